#pragma once

#include <optional>

// --help and --version, answered before any window system is touched, so they work without a
// display. Returns the exit status when one of them was given, nothing otherwise.
std::optional<int> AnswerInfoOptions(int argc, char** argv);
