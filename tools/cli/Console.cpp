#include "tools/cli/Console.h"

#include <unistd.h>

#include <cstdio>

void Print(const QString& Text)
{
    std::fputs(Text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

void PrintError(const QString& Text)
{
    std::fputs(Text.toUtf8().constData(), stderr);
    std::fflush(stderr);
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }
