#pragma once

#include <QString>

// What the agent says goes to stderr, one line each with the priority prefix the journal reads
// (<3> error ... <7> debug), so levels survive without a logging library.
enum class TPriority : int { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

void AgentLog(TPriority Priority, const QString& Text);
