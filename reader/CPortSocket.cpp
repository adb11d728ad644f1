#include "reader/CPortSocket.h"

#include "reader/CPortUnix.h"

#include "reader/Telnet.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace NetDevice {

namespace {

// Sends what it can of Out without blocking; false once the connection is gone.
bool SendSome(int Socket, std::string& Out)
{
    const ssize_t N = ::send(Socket, Out.data(), Out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (N > 0)
        Out.erase(0, size_t(N));
    return N >= 0 || errno == EAGAIN || errno == EINTR;
}

} // namespace

bool IsUrl(const std::string& PortName)
{
    return PortName.find("://") != std::string::npos || UnixDevice::IsUnixPort(PortName);
}

std::unique_ptr<TLink> TLink::Adopt(int Socket, bool Telnet, const std::string& Where)
{
    return std::unique_ptr<TLink>(new TLink(Socket, Telnet, Where));
}

TLink::TLink(int Socket, bool Telnet, const std::string& Where) : FSocket(Socket), FTelnet(Telnet), FWhere(Where)
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

std::string TLink::ApplyLine(const ComDevice::TLine& Line, Clock::time_point Deadline)
{
    if (!FTelnet)
        return {};
    std::unique_lock Guard(FLock);
    uint32_t Before[Telnet::PurgeData + 1];
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
    const bool Done = FAnswered.wait_until(Guard, Deadline, [&] {
        return FDropped || !FDecoder->Failure().empty() || Settled(Before, Purge);
    });
    if (!FDecoder->Failure().empty())
        return FWhere + FDecoder->Failure();
    if (FDropped)
        return FWhere + "the server closed the connection before it answered the line settings";
    if (!Done)
        return FWhere + (FDecoder->Binary() ? "no answer to the line settings" : "no answer to the request for binary mode") + Within();
    const std::string Differs = Telnet::Disagreement(Line, *FDecoder);
    return Differs.empty() ? std::string() : FWhere + Differs;
}

// Every line request answered (and the purge, when one was sent), binary mode agreed.
bool TLink::Settled(const uint32_t* Before, bool Purge) const
{
    for (uint8_t Code : {Telnet::SetBaudRate, Telnet::SetDataSize, Telnet::SetParity, Telnet::SetStopSize, Telnet::SetControl})
        if (FDecoder->Answers(Code) == Before[Code])
            return false;
    return FDecoder->Binary() && (!Purge || FDecoder->Answers(Telnet::PurgeData) > Before[Telnet::PurgeData]);
}

void TLink::Run()
{
    std::string ToLocal; // plain, for the port
    Relay(ToLocal);
    {
        std::lock_guard Guard(FLock);
        FDropped = true;
    }
    FAnswered.notify_all();
    // What came with the close still reaches the port, before the end of its input.
    Flush(ToLocal);
    // The port sees the end of its input, as a tty sees a hang-up; its writes still succeed
    // into the void rather than raise a signal.
    ::shutdown(FRelayEnd, SHUT_WR);
}

bool TLink::Stopping()
{
    std::lock_guard Guard(FLock);
    return FStop;
}

// Returns when stopped, when the connection is gone, or when the server broke the Telnet rules.
void TLink::Relay(std::string& ToLocal)
{
    std::string ToNet; // escaped, for the server
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
                bool Failed;
                {
                    std::lock_guard Guard(FLock);
                    FDecoder->Feed(Buffer, size_t(N), ToLocal, Reply);
                    Failed = !FDecoder->Failure().empty();
                }
                FAnswered.notify_all();
                if (Failed)
                    return;
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

// Hands the rest to the port's end as fast as the port takes it; a stop ends it.
void TLink::Flush(std::string& ToLocal)
{
    while (!ToLocal.empty() && !Stopping()) {
        pollfd P[2] = {{FWake, POLLIN, 0}, {FRelayEnd, POLLOUT, 0}};
        if (poll(P, 2, -1) < 0 && errno != EINTR)
            return;
        if (P[0].revents) {
            uint64_t Drained;
            [[maybe_unused]] const ssize_t Ignored = ::read(FWake, &Drained, sizeof Drained);
        }
        if (P[1].revents & (POLLERR | POLLHUP))
            return;
        if (P[1].revents & POLLOUT) {
            const ssize_t N = ::write(FRelayEnd, ToLocal.data(), ToLocal.size());
            if (N > 0)
                ToLocal.erase(0, size_t(N));
        }
    }
}

} // namespace NetDevice
