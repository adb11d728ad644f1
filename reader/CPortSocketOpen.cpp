#include "reader/CPortSocketOpen.h"

#include "common/SystemError.h"

#include "reader/CPortSocketRace.h"
#include "reader/CPortUnix.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <mutex>
#include <vector>

namespace NetDevice {

namespace {

// The worker gives up a little before the caller does, so that its own, more telling message
// is the one the caller sees.
constexpr auto WorkerMargin = std::chrono::milliseconds(100);

enum class TStage { Resolving, Connecting, Settings };

const char* Awaited(TStage Stage)
{
    switch (Stage) {
    case TStage::Resolving: return "the name was not resolved";
    case TStage::Connecting: return "no answer to the connection request";
    case TStage::Settings: return "no answer to the line settings";
    }
    return "";
}

void Raise(int Event)
{
    const uint64_t One = 1;
    [[maybe_unused]] const ssize_t Ignored = ::write(Event, &One, sizeof One);
}

bool Digits(const std::string& Text)
{
    for (char C : Text)
        if (!std::isdigit(static_cast<unsigned char>(C)))
            return false;
    return !Text.empty();
}

} // namespace

struct TOpeningState
{
    std::string Host;
    int Port = 0;
    bool Telnet = false;
    std::string SocketPath; // unix:PATH, a door the agent offers
    ComDevice::TLine Line;
    std::string Where;
    Clock::time_point Deadline;
    int Done = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    int Cancel = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::atomic<TStage> Stage{TStage::Resolving};

    mutable std::mutex Lock; // guards everything below
    bool Finished = false;
    bool Abandoned = false;
    std::unique_ptr<TLink> Link;
    std::string Message;

    ~TOpeningState()
    {
        for (int Fd : {Done, Cancel})
            if (Fd >= 0)
                ::close(Fd);
    }

    // Given up on, the worker closes what it made itself, outside the lock.
    void Finish(std::unique_ptr<TLink> Made, const std::string& Why)
    {
        {
            std::lock_guard Guard(Lock);
            Finished = true;
            Message = Why;
            if (!Abandoned)
                Link = std::move(Made);
        }
        Raise(Done);
    }

    bool IsFinished() const
    {
        std::lock_guard Guard(Lock);
        return Finished;
    }

    // Parses tcp://HOST:PORT or rfc2217://HOST:PORT; returns why it is none.
    std::string Parse(const std::string& Url)
    {
        if (UnixDevice::IsUnixPort(Url)) {
            SocketPath = Url.substr(5);
            Where = "Cannot reach door at " + SocketPath + ": ";
            return {};
        }
        std::string Rest;
        if (Url.rfind("tcp://", 0) == 0)
            Rest = Url.substr(6);
        else if (Url.rfind("rfc2217://", 0) == 0)
            Rest = Url.substr(10), Telnet = true;
        while (!Rest.empty() && Rest.back() == '/')
            Rest.pop_back();
        const size_t Colon = Rest.rfind(':');
        const std::string PortText = Colon == std::string::npos ? "" : Rest.substr(Colon + 1);
        if (Colon == std::string::npos || Colon == 0 || !Digits(PortText))
            return "Not a reader address: " + Url + " (give tcp://HOST:PORT or rfc2217://HOST:PORT)";
        Port = PortText.size() <= 5 ? std::stoi(PortText) : 0;
        if (Port < 1 || Port > 65535)
            return "Invalid port number " + PortText + " in " + Url;
        Host = Rest.substr(0, Colon);
        if (Host.size() > 2 && Host.front() == '[' && Host.back() == ']')
            Host = Host.substr(1, Host.size() - 2);
        Where = "Cannot reach reader at " + (Host.find(':') != std::string::npos ? "[" + Host + "]" : Host) + ":" +
                std::to_string(Port) + ": ";
        return {};
    }
};

namespace {

void Work(TOpeningState& S)
{
    try {
        if (!S.SocketPath.empty()) {
            std::string Why;
            const int Socket = UnixDevice::Connect(S.SocketPath, S.Deadline - WorkerMargin, Why);
            return Socket < 0 ? S.Finish(nullptr, Why) : S.Finish(TLink::Adopt(Socket, false, S.Where), {});
        }
        std::vector<TEndpoint> Endpoints;
        if (const std::string Error = Resolve(S.Host, S.Port, Endpoints); !Error.empty())
            return S.Finish(nullptr, S.Where + Error);
        S.Stage = TStage::Connecting;
        const auto Deadline = S.Deadline - WorkerMargin;
        int Socket = -1;
        if (const int Error = Race(Endpoints, Deadline, S.Cancel, Socket))
            return S.Finish(nullptr, S.Where + Reason(Error));
        std::unique_ptr<TLink> Link = TLink::Adopt(Socket, S.Telnet, S.Where);
        S.Stage = TStage::Settings;
        const std::string Error = Link->ApplyLine(S.Line, Deadline);
        S.Finish(Error.empty() ? std::move(Link) : nullptr, Error);
    } catch (const std::exception& E) {
        S.Finish(nullptr, S.Where + E.what());
    }
}

// Workers given up on before they finished (a name lookup cannot be interrupted): each is joined
// once it has finished, when another is handed over; those still at work when the program ends
// end with it.
class TStragglers
{
public:
    static TStragglers& Instance()
    {
        static TStragglers Stragglers;
        return Stragglers;
    }

    void Adopt(std::thread Worker, std::shared_ptr<TOpeningState> State)
    {
        std::lock_guard Guard(FLock);
        JoinFinished();
        FList.emplace_back(std::move(Worker), std::move(State));
    }

    ~TStragglers()
    {
        std::lock_guard Guard(FLock);
        JoinFinished();
        for (auto& [Worker, State] : FList)
            Worker.detach();
    }

private:
    void JoinFinished()
    {
        std::erase_if(FList, [](auto& Entry) {
            if (!Entry.second->IsFinished())
                return false;
            Entry.first.join();
            return true;
        });
    }

    std::mutex FLock;
    std::vector<std::pair<std::thread, std::shared_ptr<TOpeningState>>> FList;
};

} // namespace

TOpening::TOpening(const std::string& Url, const ComDevice::TLine& Line) : FState(std::make_shared<TOpeningState>())
{
    TOpeningState& S = *FState;
    S.Line = Line;
    S.Deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
    S.Where = "Cannot reach reader at " + Url + ": ";
    if (const std::string Wrong = S.Parse(Url); !Wrong.empty()) {
        S.Finish(nullptr, Wrong);
        return;
    }
    if (S.Done < 0 || S.Cancel < 0) {
        S.Finish(nullptr, S.Where + ErrnoText(errno));
        return;
    }
    try {
        FWorker = std::thread([State = FState] { Work(*State); });
    } catch (const std::exception& E) {
        S.Finish(nullptr, S.Where + E.what());
    }
}

TOpening::~TOpening()
{
    if (!FWorker.joinable())
        return;
    {
        std::lock_guard Guard(FState->Lock);
        FState->Abandoned = !FState->Finished;
    }
    Raise(FState->Cancel);
    if (FState->IsFinished())
        FWorker.join();
    else
        TStragglers::Instance().Adopt(std::move(FWorker), FState);
}

const std::string& TOpening::Where() const { return FState->Where; }

bool TOpening::Finished() const { return FState->IsFinished(); }

int TOpening::DoneHandle() const { return FState->Done; }

int TOpening::MsLeft() const
{
    const auto Left = std::chrono::ceil<std::chrono::milliseconds>(FState->Deadline - Clock::now()).count();
    return Left > 0 ? int(Left) : 0;
}

void TOpening::Wait() const
{
    pollfd P{FState->Done, POLLIN, 0};
    while (!Finished() && MsLeft() > 0)
        poll(&P, 1, MsLeft());
}

std::unique_ptr<TLink> TOpening::Take(std::string& Message)
{
    std::lock_guard Guard(FState->Lock);
    if (!FState->Finished) {
        FState->Abandoned = true;
        Message = FState->Where + Awaited(FState->Stage) + Within();
        return nullptr;
    }
    Message = FState->Message;
    return std::move(FState->Link);
}

} // namespace NetDevice
