#include "tools/cli/PasswordInput.h"

#include "common/Errors.h"
#include "tools/cli/Console.h"

#include <termios.h>
#include <unistd.h>

#include <iostream>
#include <string>

namespace {

// The terminal's echo off for as long as this lives, whatever ends the reading.
class TNoEcho
{
public:
    TNoEcho()
    {
        FOn = tcgetattr(STDIN_FILENO, &FSaved) == 0;
        termios Quiet = FSaved;
        Quiet.c_lflag &= ~tcflag_t(ECHO);
        FOn = FOn && tcsetattr(STDIN_FILENO, TCSAFLUSH, &Quiet) == 0;
    }
    ~TNoEcho()
    {
        if (FOn)
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &FSaved);
    }
    TNoEcho(const TNoEcho&) = delete;
    TNoEcho& operator=(const TNoEcho&) = delete;

private:
    termios FSaved{};
    bool FOn = false;
};

QByteArray Line()
{
    std::string Text;
    if (!std::getline(std::cin, Text))
        throw Exception("no password given on standard input");
    if (!Text.empty() && Text.back() == '\r')
        Text.pop_back();
    return QByteArray::fromStdString(Text);
}

QByteArray Asked(const QString& Prompt)
{
    PrintError(Prompt);
    const TNoEcho Quiet;
    const QByteArray Given = Line();
    PrintError(QStringLiteral("\n"));
    return Given;
}

} // namespace

QByteArray ReadNewPassword(const QString& User)
{
    if (!isatty(STDIN_FILENO))
        return Line();
    const QByteArray First = Asked(QStringLiteral("Password for %1: ").arg(User));
    if (Asked(QStringLiteral("The same again: ")) != First)
        throw Exception("the two passwords differ; nothing was changed");
    return First;
}
