#pragma once

#include <QString>

// The tool's two output streams, as UTF-8. Results go to stdout, messages and progress to stderr.

void Print(const QString& Text);
void PrintError(const QString& Text);

// Progress is worth drawing only for a person watching.
bool StderrIsTerminal();
