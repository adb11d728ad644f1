#include "reader/CPortSocket.h"

#include "common/SystemError.h"

#include "reader/Telnet.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

namespace NetDevice {

namespace {

using Clock = std::chrono::steady_clock;

struct TAddress
{
    std::string Host;
    std::string Port;
    bool Telnet = false;
};

bool ParseUrl(const std::string& Url, TAddress& A)
{
    std::string Rest;
    if (Url.rfind("tcp://", 0) == 0)
        Rest = Url.substr(6);
    else if (Url.rfind("rfc2217://", 0) == 0)
        Rest = Url.substr(10), A.Telnet = true;
    else
        return false;
    while (!Rest.empty() && Rest.back() == '/')
        Rest.pop_back();
    const size_t Colon = Rest.rfind(':');
    if (Colon == std::string::npos || Colon == 0 || Colon + 1 == Rest.size())
        return false;
    A.Host = Rest.substr(0, Colon);
    A.Port = Rest.substr(Colon + 1);
    if (A.Host.size() > 2 && A.Host.front() == '[' && A.Host.back() == ']')
        A.Host = A.Host.substr(1, A.Host.size() - 2);
    for (char C : A.Port)
        if (!std::isdigit(static_cast<unsigned char>(C)))
            return false;
    return true;
}

std::string Lowered(std::string Text)
{
    if (!Text.empty())
        Text[0] = char(std::tolower(static_cast<unsigned char>(Text[0])));
    return Text;
}

int Remaining(Clock::time_point Deadline)
{
    const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now()).count();
    return Left > 0 ? int(Left) : 0;
}

// One address within the deadline: 0 and the socket, or an errno.
int ConnectOne(const addrinfo& A, Clock::time_point Deadline, int& Socket)
{
    Socket = ::socket(A.ai_family, A.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, A.ai_protocol);
    if (Socket < 0)
        return errno;
    int Error = 0;
    if (::connect(Socket, A.ai_addr, A.ai_addrlen) != 0) {
        Error = errno;
        if (Error == EINPROGRESS) {
            pollfd P{Socket, POLLOUT, 0};
            int Ready;
            while ((Ready = poll(&P, 1, Remaining(Deadline))) < 0 && errno == EINTR) {}
            socklen_t Size = sizeof Error;
            if (Ready == 0)
                Error = ETIMEDOUT;
            else if (Ready < 0 || getsockopt(Socket, SOL_SOCKET, SO_ERROR, &Error, &Size) != 0)
                Error = errno;
        }
    }
    if (Error != 0) {
        ::close(Socket);
        Socket = -1;
        return Error;
    }
    const int On = 1; // frames are small and answered one by one
    setsockopt(Socket, IPPROTO_TCP, TCP_NODELAY, &On, sizeof On);
    return 0;
}

// Sends what it can of Out without blocking; false once the connection is gone.
bool SendSome(int Socket, std::string& Out)
{
    const ssize_t N = ::send(Socket, Out.data(), Out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (N > 0)
        Out.erase(0, size_t(N));
    return N >= 0 || errno == EAGAIN || errno == EINTR;
}

} // namespace

bool IsUrl(const std::string& PortName) { return PortName.find("://") != std::string::npos; }

std::unique_ptr<TLink> TLink::Open(const std::string& Url, std::string& Message)
{
    TAddress A;
    if (!ParseUrl(Url, A)) {
        Message = "Not a reader address: " + Url + " (give tcp://HOST:PORT or rfc2217://HOST:PORT)";
        return nullptr;
    }
    const std::string Where = "Cannot reach reader at " + (A.Host.find(':') != std::string::npos ? "[" + A.Host + "]" : A.Host) + ":" + A.Port + ": ";
    addrinfo Hints{};
    Hints.ai_family = AF_UNSPEC;
    Hints.ai_socktype = SOCK_STREAM;
    addrinfo* List = nullptr;
    if (const int Error = getaddrinfo(A.Host.c_str(), A.Port.c_str(), &Hints, &List)) {
        Message = Where + Lowered(Error == EAI_SYSTEM ? ErrnoText(errno) : gai_strerror(Error));
        return nullptr;
    }
    const auto Deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
    int Socket = -1;
    int Error = ETIMEDOUT;
    for (const addrinfo* I = List; I && Socket < 0 && Remaining(Deadline) > 0; I = I->ai_next)
        Error = ConnectOne(*I, Deadline, Socket);
    freeaddrinfo(List);
    if (Socket < 0) {
        Message = Where + Lowered(ErrnoText(Error));
        return nullptr;
    }
    try {
        return std::unique_ptr<TLink>(new TLink(Socket, A.Telnet));
    } catch (const std::exception& E) {
        Message = Where + E.what();
        return nullptr;
    }
}

TLink::TLink(int Socket, bool Telnet) : FSocket(Socket), FTelnet(Telnet)
{
    int Pair[2];
    FWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FWake < 0 || socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, Pair) != 0) {
        const int Error = errno;
        ::close(FSocket);
        if (FWake >= 0)
            ::close(FWake);
        throw std::system_error(Error, std::generic_category());
    }
    FLocal = Pair[0];
    FRelayEnd = Pair[1];
    if (FTelnet) {
        FDecoder = std::make_unique<Telnet::TDecoder>();
        FControl = Telnet::Greeting();
    }
    try {
        FThread = std::thread([this] { Run(); });
    } catch (...) {
        for (int Fd : {FSocket, FLocal, FRelayEnd, FWake})
            ::close(Fd);
        throw;
    }
}

TLink::~TLink()
{
    {
        std::lock_guard Guard(FLock);
        FStop = true;
    }
    const uint64_t One = 1;
    [[maybe_unused]] const ssize_t Ignored = ::write(FWake, &One, sizeof One);
    FThread.join();
    for (int Fd : {FSocket, FLocal, FRelayEnd, FWake})
        ::close(Fd);
}

int TLink::ApplyLine(const ComDevice::TLine& Line)
{
    if (!FTelnet)
        return 0;
    std::unique_lock Guard(FLock);
    int Before[Telnet::PurgeData + 1];
    for (uint8_t Code = 0; Code <= Telnet::PurgeData; ++Code)
        Before[Code] = FDecoder->Answers(Code);
    FControl += Telnet::LineRequests(Line);
    const bool Purge = !FPurged;
    if (Purge) {
        FControl += Telnet::PurgeBoth();
        FDecoder->DropUntilPurged();
        FPurged = true;
    }
    const uint64_t One = 1;
    [[maybe_unused]] const ssize_t Ignored = ::write(FWake, &One, sizeof One);
    const auto Answered = [&] {
        for (uint8_t Code : {Telnet::SetBaudRate, Telnet::SetDataSize, Telnet::SetParity, Telnet::SetStopSize, Telnet::SetControl})
            if (FDecoder->Answers(Code) == Before[Code])
                return false;
        return !Purge || FDecoder->Answers(Telnet::PurgeData) > Before[Telnet::PurgeData];
    };
    if (!FAnswered.wait_for(Guard, std::chrono::milliseconds(TimeoutMs), [&] { return FDropped || Answered(); }))
        return ETIMEDOUT;
    return FDropped ? ECONNRESET : 0;
}

void TLink::Run()
{
    Relay();
    {
        std::lock_guard Guard(FLock);
        FDropped = true;
    }
    FAnswered.notify_all();
    // The port sees the end of its input, as a tty sees a hang-up; its writes still succeed
    // into the void rather than raise a signal.
    ::shutdown(FRelayEnd, SHUT_WR);
}

// Returns when stopped or when the connection is gone.
void TLink::Relay()
{
    std::string ToNet;   // escaped, for the server
    std::string ToLocal; // plain, for the port
    uint8_t Buffer[16384];
    constexpr size_t Backlog = 65536;
    for (;;) {
        {
            std::lock_guard Guard(FLock);
            if (FStop)
                return;
            ToNet += FControl;
            FControl.clear();
        }
        pollfd P[3] = {{FWake, POLLIN, 0},
                       {FSocket, short((ToLocal.size() < Backlog ? POLLIN : 0) | (ToNet.empty() ? 0 : POLLOUT)), 0},
                       {FRelayEnd, short((ToNet.size() < Backlog ? POLLIN : 0) | (ToLocal.empty() ? 0 : POLLOUT)), 0}};
        if (poll(P, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (P[0].revents) {
            uint64_t Drained;
            [[maybe_unused]] const ssize_t Ignored = ::read(FWake, &Drained, sizeof Drained);
        }
        if (P[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t N = ::recv(FSocket, Buffer, sizeof Buffer, MSG_DONTWAIT);
            if (N == 0 || (N < 0 && errno != EAGAIN && errno != EINTR))
                return;
            if (N > 0 && FTelnet) {
                std::string Reply;
                {
                    std::lock_guard Guard(FLock);
                    FDecoder->Feed(Buffer, size_t(N), ToLocal, Reply);
                }
                FAnswered.notify_all();
                ToNet += Reply;
            } else if (N > 0) {
                ToLocal.append(reinterpret_cast<const char*>(Buffer), size_t(N));
            }
        }
        if (P[2].revents & POLLIN) {
            const ssize_t N = ::read(FRelayEnd, Buffer, sizeof Buffer);
            if (N > 0 && FTelnet)
                Telnet::Escape(Buffer, size_t(N), ToNet);
            else if (N > 0)
                ToNet.append(reinterpret_cast<const char*>(Buffer), size_t(N));
        }
        if (!ToNet.empty() && !SendSome(FSocket, ToNet))
            return;
        if (!ToLocal.empty()) {
            const ssize_t N = ::write(FRelayEnd, ToLocal.data(), ToLocal.size());
            if (N > 0)
                ToLocal.erase(0, size_t(N));
        }
    }
}

} // namespace NetDevice
