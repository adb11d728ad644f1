#include "tools/virtual-reader/Console.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/signalfd.h>
#include <system_error>
#include <unistd.h>

void TConsole::Line(const std::string& Text)
{
    std::lock_guard Lock(FMutex);
    std::fprintf(stdout, "%s\n", Text.c_str());
    std::fflush(stdout);
}

void TConsole::Error(const std::string& Text)
{
    std::lock_guard Lock(FMutex);
    std::fprintf(stderr, "%s\n", Text.c_str());
    std::fflush(stderr);
}

namespace {

constexpr size_t MaxLine = 256;

sigset_t QuitSignals()
{
    sigset_t Set;
    sigemptyset(&Set);
    sigaddset(&Set, SIGINT);
    sigaddset(&Set, SIGTERM);
    return Set;
}

} // namespace

TInputLoop::TInputLoop()
{
    const sigset_t Set = QuitSignals();
    pthread_sigmask(SIG_BLOCK, &Set, nullptr);
    FSignals = sim::UniqueFd(signalfd(-1, &Set, SFD_CLOEXEC));
    if (FSignals.Get() < 0)
        throw std::system_error(errno, std::generic_category(), "signalfd");
}

void TInputLoop::Run(const std::function<bool(const std::string& Line)>& Handle)
{
    std::string Pending;
    for (;;) {
        pollfd Fds[2] = {{STDIN_FILENO, POLLIN, 0}, {FSignals.Get(), POLLIN, 0}};
        if (::poll(Fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (Fds[1].revents & POLLIN) {
            signalfd_siginfo Info;
            [[maybe_unused]] ssize_t Taken = ::read(FSignals.Get(), &Info, sizeof Info);
            return;
        }
        if (!(Fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        char Buffer[4096];
        const ssize_t Count = ::read(STDIN_FILENO, Buffer, sizeof Buffer);
        if (Count < 0 && errno == EINTR)
            continue;
        if (Count <= 0) {
            if (!Pending.empty())
                Handle(Pending);
            return;
        }
        Pending.append(Buffer, size_t(Count));
        for (size_t End; (End = Pending.find('\n')) != std::string::npos;) {
            const std::string Line = Pending.substr(0, End);
            Pending.erase(0, End + 1);
            if (!Handle(Line))
                return;
        }
        // No command is this long: input without line ends must not grow without bound.
        if (Pending.size() > MaxLine) {
            if (!Handle(Pending.substr(0, MaxLine)))
                return;
            Pending.clear();
        }
    }
}
