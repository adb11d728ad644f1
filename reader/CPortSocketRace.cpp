#include "reader/CPortSocketRace.h"

#include "common/SystemError.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace NetDevice {

namespace {

constexpr auto AttemptDelay = std::chrono::milliseconds(250);

std::string Lowered(std::string Text)
{
    if (!Text.empty())
        Text[0] = char(std::tolower(static_cast<unsigned char>(Text[0])));
    return Text;
}

int MsUntil(Clock::time_point When)
{
    const auto Left = std::chrono::ceil<std::chrono::milliseconds>(When - Clock::now()).count();
    return Left > 0 ? int(Left) : 0;
}

// Starts a connection without waiting for it: 0 once it is under way, or an errno.
int Start(const TEndpoint& E, int& Socket)
{
    Socket = ::socket(E.Address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (Socket < 0)
        return errno;
    if (::connect(Socket, reinterpret_cast<const sockaddr*>(&E.Address), E.Size) == 0 || errno == EINPROGRESS)
        return 0;
    const int Error = errno;
    ::close(Socket);
    Socket = -1;
    return Error;
}

// How an attempt that poll reported on ended: 0 when it connected.
int Outcome(int Socket)
{
    int Error = 0;
    socklen_t Size = sizeof Error;
    return getsockopt(Socket, SOL_SOCKET, SO_ERROR, &Error, &Size) == 0 ? Error : errno;
}

// The cancel descriptor first, then the attempts under way; those left at the end are closed.
struct TAttempts
{
    std::vector<pollfd> Polled;
    explicit TAttempts(int Cancel) : Polled{{Cancel, POLLIN, 0}} {}
    ~TAttempts()
    {
        for (size_t I = 1; I < Polled.size(); ++I)
            ::close(Polled[I].fd);
    }
    bool Idle() const { return Polled.size() == 1; }
    int Take(size_t I)
    {
        const int Socket = Polled[I].fd;
        Polled.erase(Polled.begin() + std::ptrdiff_t(I));
        return Socket;
    }
};

} // namespace

std::string Resolve(const std::string& Host, int Port, std::vector<TEndpoint>& Endpoints)
{
    addrinfo Hints{};
    Hints.ai_family = AF_UNSPEC;
    Hints.ai_socktype = SOCK_STREAM;
    addrinfo* List = nullptr;
    if (const int Error = getaddrinfo(Host.c_str(), std::to_string(Port).c_str(), &Hints, &List))
        return Lowered(Error == EAI_SYSTEM ? ErrnoText(errno) : gai_strerror(Error));
    std::vector<TEndpoint> First, Other;
    for (const addrinfo* I = List; I; I = I->ai_next) {
        TEndpoint E;
        std::memcpy(&E.Address, I->ai_addr, std::min(size_t(I->ai_addrlen), sizeof E.Address));
        E.Size = I->ai_addrlen;
        (I->ai_family == List->ai_family ? First : Other).push_back(E);
    }
    freeaddrinfo(List);
    Endpoints.clear();
    for (size_t I = 0; I < std::max(First.size(), Other.size()); ++I) {
        if (I < First.size())
            Endpoints.push_back(First[I]);
        if (I < Other.size())
            Endpoints.push_back(Other[I]);
    }
    return {};
}

int Race(const std::vector<TEndpoint>& Endpoints, Clock::time_point Deadline, int Cancel, int& Socket)
{
    TAttempts Tries(Cancel);
    size_t Next = 0;
    int Error = ETIMEDOUT;
    auto NextStart = Clock::now();
    for (;;) {
        if (Next < Endpoints.size() && Clock::now() >= NextStart) {
            int Started = -1;
            if (const int Failed = Start(Endpoints[Next++], Started)) {
                Error = Failed; // the next one starts at once
            } else {
                Tries.Polled.push_back({Started, POLLOUT, 0});
                NextStart = Clock::now() + AttemptDelay;
            }
            continue;
        }
        if (Tries.Idle() && Next == Endpoints.size())
            return Error;
        if (Clock::now() >= Deadline)
            return ETIMEDOUT;
        const auto Wake = Next < Endpoints.size() ? std::min(NextStart, Deadline) : Deadline;
        if (poll(Tries.Polled.data(), Tries.Polled.size(), MsUntil(Wake)) < 0 && errno != EINTR)
            return errno;
        if (Tries.Polled[0].revents)
            return ECANCELED;
        for (size_t I = Tries.Polled.size() - 1; I > 0; --I) {
            if (!Tries.Polled[I].revents)
                continue;
            if ((Error = Outcome(Tries.Polled[I].fd)) == 0) {
                Socket = Tries.Take(I);
                const int On = 1; // frames are small and answered one by one
                setsockopt(Socket, IPPROTO_TCP, TCP_NODELAY, &On, sizeof On);
                return 0;
            }
            ::close(Tries.Take(I));
            NextStart = Clock::now(); // a failure starts the next one at once
        }
    }
}

std::string Reason(int Error)
{
    return Error == ETIMEDOUT ? "no answer to the connection request" + Within() : Lowered(ErrnoText(Error));
}

} // namespace NetDevice
