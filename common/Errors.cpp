#include "common/Errors.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

TExceptionReporter& Reporter()
{
    static TExceptionReporter Installed;
    return Installed;
}

} // namespace

void ReportException(const std::exception& E)
{
    // A reporter that throws must not take the event loop down with it.
    try {
        if (Reporter()) {
            Reporter()(E);
            return;
        }
    } catch (const std::exception& Inner) {
        std::fprintf(stderr, "Dorvik: error while reporting an error: %s\n", Inner.what());
    } catch (...) {
        std::fprintf(stderr, "Dorvik: unknown error while reporting an error\n");
    }
    std::fprintf(stderr, "Dorvik: %s\n", ReportText(E.what()).c_str());
}

TExceptionReporter SetExceptionReporter(TExceptionReporter NewReporter)
{
    TExceptionReporter Old = std::move(Reporter());
    Reporter() = std::move(NewReporter);
    return Old;
}

std::string ReportText(const std::string& Message)
{
    if (!Message.empty() && static_cast<unsigned char>(Message.back()) > '.')
        return Message + ".";
    return Message;
}

std::string Format(const char* Fmt, ...)
{
    va_list Args;
    va_start(Args, Fmt);
    va_list Copy;
    va_copy(Copy, Args);
    const int Needed = std::vsnprintf(nullptr, 0, Fmt, Copy);
    va_end(Copy);
    std::string Result;
    if (Needed > 0) {
        std::vector<char> Buffer(static_cast<size_t>(Needed) + 1);
        std::vsnprintf(Buffer.data(), Buffer.size(), Fmt, Args);
        Result.assign(Buffer.data(), static_cast<size_t>(Needed));
    }
    va_end(Args);
    return Result;
}
