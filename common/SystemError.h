#pragma once

#include <string>

// The system's text for an errno value, in the locale's encoding (Qt code reads it with
// QString::fromLocal8Bit). Safe on any thread, unlike std::strerror.
std::string ErrnoText(int Error);
