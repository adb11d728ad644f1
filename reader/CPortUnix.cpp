#include "reader/CPortUnix.h"

#include "common/SystemError.h"
#include "reader/AgentHello.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace UnixDevice {

namespace {

int MsLeft(std::chrono::steady_clock::time_point Deadline)
{
    const auto Left = std::chrono::ceil<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now()).count();
    return Left > 0 ? int(Left) : 0;
}

// One byte at a time: what follows the line is the reader's, and stays in the socket.
bool ReadLine(int Socket, std::chrono::steady_clock::time_point Deadline, std::string& Line, std::string& Why)
{
    while (Line.size() < size_t(agenthello::LongestLine)) {
        pollfd P{Socket, POLLIN, 0};
        const int Ready = poll(&P, 1, MsLeft(Deadline));
        if (Ready < 0 && errno == EINTR)
            continue;
        if (Ready <= 0) {
            Why = Ready == 0 ? "no answer from dorvik-agent within 5 s" : ErrnoText(errno);
            return false;
        }
        char C;
        const ssize_t N = ::recv(Socket, &C, 1, 0);
        if (N <= 0) {
            Why = N == 0 ? "dorvik-agent closed the door's socket" : ErrnoText(errno);
            return false;
        }
        if (C == '\n')
            return true;
        Line += C;
    }
    Why = "this is not a door that dorvik-agent offers";
    return false;
}

} // namespace

bool IsUnixPort(const std::string& PortName) { return PortName.rfind("unix:", 0) == 0; }

int Connect(const std::string& Path, std::chrono::steady_clock::time_point Deadline, std::string& Message)
{
    const std::string Where = "Cannot reach door at " + Path + ": ";
    sockaddr_un Address{};
    Address.sun_family = AF_UNIX;
    if (Path.empty() || Path.size() >= sizeof Address.sun_path) {
        Message = Where + "not a socket path";
        return -1;
    }
    std::memcpy(Address.sun_path, Path.c_str(), Path.size());
    const int Socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (Socket < 0 || ::connect(Socket, reinterpret_cast<const sockaddr*>(&Address), sizeof Address) != 0) {
        const int Error = errno;
        if (Socket >= 0)
            ::close(Socket);
        Message = Where + (Error == ECONNREFUSED || Error == ENOENT ? "dorvik-agent does not offer it (is it running?)"
                           : Error == EACCES ? "not allowed (join the group dialout, then log in again)"
                                             : ErrnoText(Error));
        return -1;
    }
    std::string Line, Why;
    if (!ReadLine(Socket, Deadline, Line, Why) || Line + '\n' != agenthello::Ready) {
        ::close(Socket);
        const std::string Busy = agenthello::Busy;
        Message = Where + (!Why.empty() ? Why : Line.rfind(Busy, 0) == 0 ? Line.substr(Busy.size())
                                                                          : "this is not a door that dorvik-agent offers");
        return -1;
    }
    return Socket;
}

} // namespace UnixDevice
