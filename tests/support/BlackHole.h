#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

// An address on loopback that never answers, as a host that is down or filtered: its backlog
// holds one connection, taken by one of its own, and nobody accepts, so the system drops the
// first packet of every later attempt.
class BlackHole
{
public:
    explicit BlackHole(int Family = AF_INET)
    {
        sockaddr_in6 A{};
        A.sin6_family = sa_family_t(Family);
        if (Family == AF_INET6)
            A.sin6_addr = in6addr_loopback;
        else
            reinterpret_cast<sockaddr_in&>(A).sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t Size = Family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        FListen = ::socket(Family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        FFiller = ::socket(Family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::bind(FListen, reinterpret_cast<sockaddr*>(&A), Size) != 0 || ::listen(FListen, 0) != 0 ||
            ::getsockname(FListen, reinterpret_cast<sockaddr*>(&A), &Size) != 0 ||
            ::connect(FFiller, reinterpret_cast<sockaddr*>(&A), Size) != 0)
            throw std::runtime_error("BlackHole: cannot listen on loopback");
        FPort = ntohs(A.sin6_port); // where sockaddr_in keeps its port too
    }
    ~BlackHole()
    {
        ::close(FFiller);
        ::close(FListen);
    }
    BlackHole(const BlackHole&) = delete;
    BlackHole& operator=(const BlackHole&) = delete;

    int Port() const { return FPort; }

private:
    int FListen = -1;
    int FFiller = -1;
    int FPort = 0;
};
