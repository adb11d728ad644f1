#include "sim/SimReader.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

// Between the pieces of a chunked write, so that the program gets a chance to read each one.
constexpr std::chrono::milliseconds ChunkPause{2};

int CeilMs(std::chrono::steady_clock::duration Wait)
{
    return int(std::chrono::ceil<std::chrono::milliseconds>(Wait).count());
}

} // namespace

SimReader::SimReader() : FPty(OpenPseudoTerminal()), FWake(WakePipe::Open())
{
    FThread = std::thread([this] { Run(); });
}

SimReader::~SimReader()
{
    {
        std::lock_guard Lock(FMutex);
        FStop = true;
    }
    FWake.Signal();
    if (FThread.joinable())
        FThread.join();
}

std::string SimReader::PortName() const { return FPty.SlaveName; }

std::vector<CardBytes> SimReader::Cards() const
{
    std::lock_guard Lock(FMutex);
    return FState.Cards;
}

void SimReader::SetCards(std::vector<CardBytes> Cards)
{
    std::lock_guard Lock(FMutex);
    FState.Cards = std::move(Cards);
}

uint8_t SimReader::Master() const
{
    std::lock_guard Lock(FMutex);
    return FState.Master;
}

void SimReader::SetMaster(uint8_t Index)
{
    std::lock_guard Lock(FMutex);
    FState.Master = Index;
}

uint8_t SimReader::DoorMode() const
{
    std::lock_guard Lock(FMutex);
    return FState.DoorMode;
}

uint8_t SimReader::DoorDelay() const
{
    std::lock_guard Lock(FMutex);
    return FState.DoorDelay;
}

void SimReader::SetDoor(uint8_t Mode, uint8_t Delay)
{
    std::lock_guard Lock(FMutex);
    FState.DoorMode = Mode;
    FState.DoorDelay = Delay;
}

void SimReader::SetObserver(FrameObserver Observer)
{
    std::lock_guard Lock(FMutex);
    FObserver = std::move(Observer);
}

void SimReader::Swipe(const CardBytes& Card) { Enqueue(MakeFrame(CodeSwipe, Card.data(), Card.size()), false); }

void SimReader::SendRaw(const std::vector<uint8_t>& Bytes)
{
    if (!Bytes.empty())
        Enqueue(Bytes, false);
}

void SimReader::SetChunkSize(int Bytes)
{
    std::lock_guard Lock(FMutex);
    FChunkSize = std::max(Bytes, 0);
}

void SimReader::SetReplyDelay(std::chrono::milliseconds Delay)
{
    std::lock_guard Lock(FMutex);
    FReplyDelay = std::max(Delay, std::chrono::milliseconds(0));
}

void SimReader::SetSilent(bool Silent)
{
    std::lock_guard Lock(FMutex);
    FSilent = Silent;
}

void SimReader::SetAnswerLimit(int Frames)
{
    std::lock_guard Lock(FMutex);
    FAnswerLimit = Frames;
}

void SimReader::HangUp()
{
    {
        std::lock_guard Lock(FMutex);
        FHangUp = true;
    }
    FWake.Signal();
    // From an observer (on the thread itself) the hang-up happens as the thread ends.
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id())
        FThread.join();
}

std::vector<Frame> SimReader::ReceivedFrames() const
{
    std::lock_guard Lock(FMutex);
    return FReceivedFrames;
}

std::vector<uint8_t> SimReader::ReceivedBytes() const
{
    std::lock_guard Lock(FMutex);
    return FReceivedBytes;
}

bool SimReader::WaitForFrames(size_t Count, std::chrono::milliseconds Timeout) const
{
    std::unique_lock Lock(FMutex);
    return FFramesLogged.wait_for(Lock, Timeout, [&] { return FReceivedFrames.size() >= Count; });
}

void SimReader::ClearLog()
{
    std::lock_guard Lock(FMutex);
    FReceivedFrames.clear();
    FReceivedBytes.clear();
}

void SimReader::Enqueue(Frame Bytes, bool IsReply)
{
    {
        std::lock_guard Lock(FMutex);
        FOutbox.push_back(Outgoing{std::move(Bytes), IsReply});
    }
    FWake.Signal();
}

// The thread sleeps only in poll(): on the wake-up pipe, on the line, and until the next write
// is due. A hang-up of the line or a read error ends it, so it never spins.
void SimReader::Run()
{
    for (;;) {
        const Plan Next = PlanNextStep();
        if (Next.Stop)
            break;
        pollfd Fds[2] = {{FWake.ReadEnd.Get(), POLLIN, 0},
                         {FPty.Master.Get(), short(POLLIN | (Next.WriteNow ? POLLOUT : 0)), 0}};
        if (::poll(Fds, 2, Next.TimeoutMs) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (Fds[0].revents & POLLIN)
            FWake.Drain();
        if (Fds[1].revents & POLLIN) {
            if (!ReadFromLine())
                break;
        } else if (Fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            break;
        }
        if (Next.WriteNow && (Fds[1].revents & POLLOUT))
            WriteHead();
    }
    std::lock_guard Lock(FMutex);
    if (FHangUp)
        FPty.Master.Reset();
}

SimReader::Plan SimReader::PlanNextStep()
{
    std::lock_guard Lock(FMutex);
    Plan Next;
    Next.Stop = FStop || FHangUp;
    if (Next.Stop || FOutbox.empty())
        return Next;
    Outgoing& Head = FOutbox.front();
    const auto Now = Clock::now();
    if (!Head.Scheduled) {
        Head.Due = Now + (Head.IsReply ? FReplyDelay : std::chrono::milliseconds(0));
        Head.Scheduled = true;
    }
    if (Head.Due <= Now)
        Next.WriteNow = true;
    else
        Next.TimeoutMs = std::max(CeilMs(Head.Due - Now), 1);
    return Next;
}

bool SimReader::ReadFromLine()
{
    uint8_t Buffer[4096];
    const ssize_t Count = ::read(FPty.Master.Get(), Buffer, sizeof Buffer);
    if (Count < 0)
        return errno == EAGAIN || errno == EINTR;
    if (Count == 0)
        return false;
    {
        std::lock_guard Lock(FMutex);
        FReceivedBytes.insert(FReceivedBytes.end(), Buffer, Buffer + Count);
    }
    FCutter.Append(Buffer, size_t(Count));
    while (auto Received = FCutter.Next())
        Receive(*Received);
    return true;
}

void SimReader::Receive(const Frame& Received)
{
    {
        std::lock_guard Lock(FMutex);
        FReceivedFrames.push_back(Received);
        std::vector<Frame> Answers = FState.Answer(Received);
        const bool Answering = !Answers.empty() && !FSilent && FAnswerLimit != 0;
        if (Answering) {
            if (FAnswerLimit > 0)
                --FAnswerLimit;
            for (Frame& Answer : Answers)
                FOutbox.push_back(Outgoing{std::move(Answer), true});
        }
    }
    FFramesLogged.notify_all();
    Notify(Direction::Received, Received);
}

bool SimReader::LineIsSetUp() const
{
    termios Settings{};
    return ::tcgetattr(FPty.Slave.Get(), &Settings) == 0 && !(Settings.c_lflag & (ICANON | ECHO));
}

void SimReader::WriteHead()
{
    Frame Done;
    Direction Way = Direction::Sent;
    {
        std::lock_guard Lock(FMutex);
        Outgoing& Head = FOutbox.front();
        if (Head.Written == 0 && !LineIsSetUp()) {
            Way = Direction::Dropped;
        } else {
            const size_t Left = Head.Bytes.size() - Head.Written;
            const size_t Piece = FChunkSize > 0 ? std::min(Left, size_t(FChunkSize)) : Left;
            const ssize_t Written = ::write(FPty.Master.Get(), Head.Bytes.data() + Head.Written, Piece);
            if (Written < 0) {
                // No room: the next poll waits for it. Any other failure means the line is gone;
                // dropping what is queued keeps the thread from retrying forever.
                if (errno != EAGAIN && errno != EINTR)
                    FOutbox.clear();
                return;
            }
            Head.Written += size_t(Written);
            if (Head.Written < Head.Bytes.size()) {
                if (FChunkSize > 0)
                    Head.Due = Clock::now() + ChunkPause;
                return;
            }
        }
        Done = std::move(Head.Bytes);
        FOutbox.pop_front();
    }
    Notify(Way, Done);
}

void SimReader::Notify(Direction Way, const Frame& Bytes)
{
    FrameObserver Observer;
    {
        std::lock_guard Lock(FMutex);
        Observer = FObserver;
    }
    if (Observer)
        Observer(Way, Bytes);
}

} // namespace sim
