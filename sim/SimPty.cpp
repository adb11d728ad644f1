#include "sim/SimPty.h"

#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <system_error>
#include <unistd.h>

namespace sim {

namespace {

[[noreturn]] void Fail(const char* What) { throw std::system_error(errno, std::generic_category(), What); }

void AddFlags(int Fd, int StatusFlags)
{
    const int Status = fcntl(Fd, F_GETFL);
    if (Status < 0 || fcntl(Fd, F_SETFL, Status | StatusFlags) < 0)
        Fail("fcntl(F_SETFL)");
    if (fcntl(Fd, F_SETFD, FD_CLOEXEC) < 0)
        Fail("fcntl(F_SETFD)");
}

} // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& Other) noexcept
{
    if (this != &Other) {
        Reset();
        FFd = Other.Release();
    }
    return *this;
}

int UniqueFd::Release()
{
    const int Fd = FFd;
    FFd = -1;
    return Fd;
}

void UniqueFd::Reset()
{
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
}

PseudoTerminal OpenPseudoTerminal()
{
    PseudoTerminal Pty;
    Pty.Master = UniqueFd(posix_openpt(O_RDWR | O_NOCTTY));
    if (Pty.Master.Get() < 0)
        Fail("posix_openpt");
    AddFlags(Pty.Master.Get(), O_NONBLOCK);
    if (grantpt(Pty.Master.Get()) < 0)
        Fail("grantpt");
    if (unlockpt(Pty.Master.Get()) < 0)
        Fail("unlockpt");
    char Name[128];
    if (int Error = ptsname_r(Pty.Master.Get(), Name, sizeof Name); Error != 0) {
        errno = Error;
        Fail("ptsname_r");
    }
    Pty.SlaveName = Name;
    Pty.Slave = UniqueFd(::open(Name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (Pty.Slave.Get() < 0)
        Fail("open pseudo-terminal slave");
    return Pty;
}

WakePipe WakePipe::Open()
{
    int Fds[2];
    if (::pipe(Fds) < 0)
        Fail("pipe");
    WakePipe Pipe{UniqueFd(Fds[0]), UniqueFd(Fds[1])};
    AddFlags(Fds[0], O_NONBLOCK);
    AddFlags(Fds[1], O_NONBLOCK);
    return Pipe;
}

void WakePipe::Signal() const
{
    const char Byte = 1;
    // A full pipe already holds a wake-up, so a failed write loses nothing.
    [[maybe_unused]] ssize_t Written = ::write(WriteEnd.Get(), &Byte, 1);
}

void WakePipe::Drain() const
{
    char Bytes[64];
    while (::read(ReadEnd.Get(), Bytes, sizeof Bytes) > 0) {
    }
}

} // namespace sim
