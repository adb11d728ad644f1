#include "reader/CPortDevice.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace ComDevice {

// In its own file: the kernel's termios2 clashes with <termios.h>.
int SetArbitraryBaud(int Handle, int32_t Baud);

namespace {

speed_t StandardSpeed(int32_t Baud)
{
    switch (Baud) {
    case 110: return B110;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
    }
}

tcflag_t CharacterSize(int DataBits)
{
    switch (DataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

tcflag_t ParityFlags(TParityBits Parity)
{
    switch (Parity) {
    case prOdd: return PARENB | PARODD;
    case prEven: return PARENB;
    case prMark: return PARENB | PARODD | CMSPAR;
    case prSpace: return PARENB | CMSPAR;
    case prNone: break;
    }
    return 0;
}

// Devices without modem lines (pseudo-terminals, some bridges) answer these; not an error.
bool NoModemLines(int Error) { return Error == ENOTTY || Error == EINVAL; }

int SetModemLine(int Handle, int Line, bool On)
{
    if (ioctl(Handle, On ? TIOCMBIS : TIOCMBIC, &Line) == 0 || NoModemLines(errno))
        return 0;
    return errno;
}

} // namespace

int Open(const char* Path, int& Handle)
{
    Handle = ::open(Path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Handle < 0)
        return errno;
    if (!isatty(Handle)) {
        ::close(Handle);
        Handle = -1;
        return ENOTTY;
    }
    // TIOCEXCL keeps other openers out (root gets past it); flock is what every opener honours.
    ioctl(Handle, TIOCEXCL);
    if (flock(Handle, LOCK_EX | LOCK_NB) != 0) {
        const int Error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(Handle);
        Handle = -1;
        return Error;
    }
    return 0;
}

void Close(int Handle)
{
    if (Handle >= 0) {
        ioctl(Handle, TIOCNXCL);
        ::close(Handle);
    }
}

int ApplyLine(int Handle, const TLine& Line)
{
    termios T{};
    if (tcgetattr(Handle, &T) != 0)
        return errno;
    // Raw: every byte passes unchanged both ways.
    T.c_iflag = Line.ParityCheck ? INPCK : 0;
    if (Line.XonXoffOut)
        T.c_iflag |= IXON;
    if (Line.XonXoffIn)
        T.c_iflag |= IXOFF;
    T.c_oflag = 0;
    T.c_lflag = 0;
    T.c_cflag = CREAD | CLOCAL | CharacterSize(Line.DataBits) | ParityFlags(Line.Parity);
    if (Line.TwoStopBits)
        T.c_cflag |= CSTOPB;
    if (Line.HardwareFlow)
        T.c_cflag |= CRTSCTS;
    for (cc_t& C : T.c_cc)
        C = _POSIX_VDISABLE;
    T.c_cc[VSTART] = Line.XonChar;
    T.c_cc[VSTOP] = Line.XoffChar;
    T.c_cc[VMIN] = 0;
    T.c_cc[VTIME] = 0;
    // A speed of B0 would hang the line up; an arbitrary speed replaces the placeholder below.
    const speed_t Speed = StandardSpeed(Line.Baud);
    cfsetispeed(&T, Speed != B0 ? Speed : B9600);
    cfsetospeed(&T, Speed != B0 ? Speed : B9600);
    if (tcsetattr(Handle, TCSANOW, &T) != 0)
        return errno;
    if (Speed == B0) {
        if (const int Error = SetArbitraryBaud(Handle, Line.Baud))
            return Error;
    }
    if (Line.Dtr != dtrHandshake) {
        if (const int Error = SetModemLine(Handle, TIOCM_DTR, Line.Dtr == dtrEnable))
            return Error;
    }
    if (Line.Rts != rtsHandshake) {
        if (const int Error = SetModemLine(Handle, TIOCM_RTS, Line.Rts != rtsDisable))
            return Error;
    }
    return 0;
}

int Write(int Handle, const void* Buffer, int Count, int64_t TimeoutMs, int& Written)
{
    using Clock = std::chrono::steady_clock;
    const auto Deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
    const auto* Bytes = static_cast<const uint8_t*>(Buffer);
    Written = 0;
    while (Written < Count) {
        const ssize_t N = ::write(Handle, Bytes + Written, size_t(Count - Written));
        if (N > 0) {
            Written += int(N);
            continue;
        }
        if (N < 0 && errno == EINTR)
            continue;
        if (N < 0 && errno != EAGAIN)
            return errno;
        const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now()).count();
        if (Left <= 0)
            return 0; // time-out: fewer bytes, no error
        pollfd P{Handle, POLLOUT, 0};
        if (poll(&P, 1, int(Left)) < 0 && errno != EINTR)
            return errno;
        if (P.revents & (POLLERR | POLLHUP | POLLNVAL))
            return EIO;
    }
    return 0;
}

int Read(int Handle, void* Buffer, int Count, int& Got)
{
    Got = 0;
    for (;;) {
        const ssize_t N = ::read(Handle, Buffer, size_t(Count));
        if (N >= 0) {
            Got = int(N);
            return 0;
        }
        if (errno == EINTR)
            continue;
        return errno == EAGAIN ? 0 : errno;
    }
}

int Waiting(int Handle, int& Count)
{
    Count = 0;
    return ioctl(Handle, FIONREAD, &Count) == 0 ? 0 : errno;
}

bool LineGone(int Error) { return Error == EIO || Error == ENXIO || Error == ENODEV; }

int Flush(int Handle) { return tcflush(Handle, TCIOFLUSH) == 0 ? 0 : errno; }

int ModemStatus(int Handle, int& Lines)
{
    Lines = 0;
    if (ioctl(Handle, TIOCMGET, &Lines) == 0 || NoModemLines(errno))
        return 0;
    return errno;
}

int64_t LineErrorCount(int Handle)
{
    serial_icounter_struct Counts{};
    if (ioctl(Handle, TIOCGICOUNT, &Counts) != 0)
        return 0;
    return int64_t(Counts.frame) + Counts.parity + Counts.overrun + Counts.brk + Counts.buf_overrun;
}

} // namespace ComDevice
