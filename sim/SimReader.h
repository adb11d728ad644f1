#pragma once

#include "sim/SimFrames.h"
#include "sim/SimPty.h"
#include "sim/SimReaderState.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

// A card reader on the master side of a pseudo-terminal. The program under test opens
// PortName() as its serial port; this side answers its frames from its own thread, keeps its own
// cards, master index and door settings, and offers hooks to misbehave on purpose.
// Every public member is thread-safe and returns at once (HangUp waits for the thread to end).
//
// The line's settings are never changed here. While they are still those of a fresh terminal
// (canonical input or echo on), no program has set the port up, so whatever would be sent is
// dropped, as a real reader's bytes are lost on a closed port; written into a cooked line they
// would come back as echo or be changed.
class SimReader
{
public:
    enum class Direction { Received, Sent, Dropped };
    // Called on the reader's thread for each complete frame received, for each frame (or raw
    // bytes) once fully written, and for each one dropped because nobody listens. It may still
    // run once after being replaced.
    using FrameObserver = std::function<void(Direction, const Frame&)>;

    SimReader();
    ~SimReader();
    SimReader(const SimReader&) = delete;
    SimReader& operator=(const SimReader&) = delete;

    std::string PortName() const;

    std::vector<CardBytes> Cards() const;
    void SetCards(std::vector<CardBytes> Cards);
    uint8_t Master() const;
    void SetMaster(uint8_t Index);
    uint8_t DoorMode() const;
    uint8_t DoorDelay() const;
    void SetDoor(uint8_t Mode, uint8_t Delay);

    void SetObserver(FrameObserver Observer);

    // Test hooks.
    void Swipe(const CardBytes& Card);
    void SendRaw(const std::vector<uint8_t>& Bytes);
    // Splits every write into pieces of this many bytes with a short pause between them, so the
    // program reads partial frames (0 = whole).
    void SetChunkSize(int Bytes);
    // Waits this long before each frame of an answer (a read's frames 3, 4... 5 each wait).
    void SetReplyDelay(std::chrono::milliseconds Delay);
    // Withholds all answers; received frames still change the reader's state and are logged.
    void SetSilent(bool Silent);
    // Answers this many more received frames, then falls silent (-1 = no limit). Frames that need
    // no answer do not count.
    void SetAnswerLimit(int Frames);
    // Closes the master side: the port sees a hang-up and the reader's thread ends.
    void HangUp();

    std::vector<Frame> ReceivedFrames() const;
    std::vector<uint8_t> ReceivedBytes() const;
    bool WaitForFrames(size_t Count, std::chrono::milliseconds Timeout) const;
    void ClearLog();

private:
    using Clock = std::chrono::steady_clock;

    struct Outgoing
    {
        Frame Bytes;
        bool IsReply = false;
        size_t Written = 0;
        bool Scheduled = false;
        Clock::time_point Due{};
    };

    struct Plan
    {
        bool Stop = false;
        bool WriteNow = false;
        int TimeoutMs = -1;
    };

    void Run();
    Plan PlanNextStep();
    bool ReadFromLine();
    void Receive(const Frame& Received);
    void WriteHead();
    bool LineIsSetUp() const;
    void Enqueue(Frame Bytes, bool IsReply);
    void Notify(Direction Way, const Frame& Bytes);

    PseudoTerminal FPty;
    WakePipe FWake;

    mutable std::mutex FMutex;
    mutable std::condition_variable FFramesLogged;
    SimReaderState FState;
    std::deque<Outgoing> FOutbox;
    int FChunkSize = 0;
    std::chrono::milliseconds FReplyDelay{0};
    bool FSilent = false;
    int FAnswerLimit = -1;
    bool FStop = false;
    bool FHangUp = false;
    std::vector<Frame> FReceivedFrames;
    std::vector<uint8_t> FReceivedBytes;
    FrameObserver FObserver;

    FrameCutter FCutter; // the thread's alone
    std::thread FThread; // last: starts once everything above exists
};

} // namespace sim
