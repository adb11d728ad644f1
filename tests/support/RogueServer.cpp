#include "support/RogueServer.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

RogueServer::RogueServer(Answer Reply, std::string Greeting) : FReply(std::move(Reply)), FGreeting(std::move(Greeting))
{
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    FWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Size = sizeof A;
    if (FListen < 0 || FWake < 0 || ::bind(FListen, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0 ||
        ::listen(FListen, 4) != 0 || ::getsockname(FListen, reinterpret_cast<sockaddr*>(&A), &Size) != 0) {
        ::close(FListen);
        ::close(FWake);
        throw std::runtime_error("RogueServer: cannot listen on loopback");
    }
    FPort = ntohs(A.sin_port);
    FThread = std::thread([this] { Run(); });
}

RogueServer::~RogueServer()
{
    {
        std::lock_guard Guard(FLock);
        FStop = true;
    }
    Wake();
    FThread.join();
    ::close(FListen);
    ::close(FWake);
}

QString RogueServer::Url(const QString& Scheme) const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(Scheme).arg(FPort);
}

void RogueServer::SetFlood(Flood Source)
{
    {
        std::lock_guard Guard(FLock);
        FFlood = std::move(Source);
    }
    Wake();
}

void RogueServer::SendAndClose(const std::string& Bytes)
{
    {
        std::lock_guard Guard(FLock);
        FFinal = Bytes;
        FCloseNow = true;
    }
    Wake();
}

std::string RogueServer::Received() const
{
    std::lock_guard Guard(FLock);
    return FReceived;
}

int RogueServer::Accepted() const
{
    std::lock_guard Guard(FLock);
    return FAccepted;
}

void RogueServer::Wake()
{
    const uint64_t One = 1;
    [[maybe_unused]] const ssize_t Ignored = ::write(FWake, &One, sizeof One);
}

void RogueServer::Run()
{
    for (;;) {
        {
            std::lock_guard Guard(FLock); // a client's service may have drained the stop's wake-up
            if (FStop)
                return;
        }
        pollfd P[2] = {{FWake, POLLIN, 0}, {FListen, POLLIN, 0}};
        if (::poll(P, 2, -1) < 0)
            continue;
        if (P[0].revents) {
            uint64_t Drained;
            [[maybe_unused]] const ssize_t Ignored = ::read(FWake, &Drained, sizeof Drained);
            continue;
        }
        if (!(P[1].revents & POLLIN))
            continue;
        const int Client = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (Client < 0)
            continue;
        {
            std::lock_guard Guard(FLock);
            ++FAccepted;
        }
        const bool Stopped = !Serve(Client);
        ::close(Client);
        if (Stopped)
            return;
    }
}

// Returns false when the server is to stop, true when the client is gone or was let go.
bool RogueServer::Serve(int Client)
{
    std::string Out = FGreeting;
    char Buffer[4096];
    for (;;) {
        Flood Source;
        {
            std::lock_guard Guard(FLock);
            if (FStop)
                return false;
            if (FCloseNow) {
                FCloseNow = false;
                const std::string Final = Out + FFinal;
                [[maybe_unused]] const ssize_t Ignored = ::send(Client, Final.data(), Final.size(), MSG_NOSIGNAL);
                return true;
            }
            Source = FFlood;
        }
        if (Source && Out.size() < 65536)
            Out += Source();
        const bool Waiting = !Out.empty();
        pollfd P[3] = {{FWake, POLLIN, 0}, {Client, short(POLLIN | (Waiting ? POLLOUT : 0)), 0}, {FListen, POLLIN, 0}};
        if (::poll(P, 3, -1) < 0)
            continue;
        if (P[0].revents) {
            uint64_t Drained;
            [[maybe_unused]] const ssize_t Ignored = ::read(FWake, &Drained, sizeof Drained);
        }
        if (P[2].revents & POLLIN)
            return true; // a newer client replaces this one
        if (P[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t N = ::recv(Client, Buffer, sizeof Buffer, MSG_DONTWAIT);
            if (N == 0 || (N < 0 && errno != EAGAIN && errno != EINTR))
                return true;
            if (N > 0) {
                const std::string Piece(Buffer, size_t(N));
                {
                    std::lock_guard Guard(FLock);
                    FReceived += Piece;
                }
                if (FReply)
                    Out += FReply(Piece);
            }
        }
        if ((P[1].revents & POLLOUT) && !Out.empty()) {
            const ssize_t N = ::send(Client, Out.data(), Out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (N < 0 && errno != EAGAIN && errno != EINTR)
                return true;
            if (N > 0)
                Out.erase(0, size_t(N));
        }
    }
}
