#pragma once

#include <functional>
#include <stdexcept>
#include <string>

// Every failure of the program is an Exception whose what() is the text the user reads.
class Exception : public std::runtime_error
{
public:
    explicit Exception(const std::string& Message) : std::runtime_error(Message) {}
};

using TExceptionReporter = std::function<void(const std::exception&)>;

// The application's general error report: the one piece of global state. Entry points from the
// event loop catch what they cannot handle and hand it here; the application decides how it is
// shown (a message box), tests install their own to see what was reported.
void ReportException(const std::exception& E);

// Installs a reporter and returns the one it replaces; an empty function restores the default,
// which writes the message to stderr.
TExceptionReporter SetExceptionReporter(TExceptionReporter Reporter);

// The text the general report shows: the message with "." appended when its last character
// sorts after ".", so "Unknown command" becomes "Unknown command." and "Done." stays as it is.
std::string ReportText(const std::string& Message);

// printf-style formatting for messages built from the system's format strings.
std::string Format(const char* Fmt, ...) __attribute__((format(printf, 1, 2)));
