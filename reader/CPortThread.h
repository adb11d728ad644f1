#pragma once

#include "reader/CPort.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// The hand-over between the event thread and the GUI thread: one notice on its way at a time.
// The GUI thread marks a notice taken before it handles it, so the thread is never held by a
// handler, and a stop releases a thread that waits for its notice to be taken.
//
// Lifetimes under nested handlers. A handler may run a modal loop in which further notices are
// handled, and one of those may close, release or reopen the port. The rule: nothing that a
// running handler, at any depth, touches after it returns is destroyed before the outermost
// handler has returned.
// - This object counts the handlers running in it; let go while any runs, it is deleted by the
//   last one out, never through deleteLater (the next nested modal loop would run that delete
//   beneath the outer handler).
// - The event thread only ever touches this object and its own descriptors, so it can be
//   stopped and joined from any depth.
// - The port counts its openings (Generation): a receive step, and the reader component's
//   frame loop above it, stop without touching the port again once the port they started on was
//   closed beneath them.
class TComNotices : public QObject
{
public:
    explicit TComNotices(TCustomComPort& Port);
    TComNotices(const TComNotices&) = delete;
    TComNotices& operator=(const TComNotices&) = delete;
    ~TComNotices() override;

    // Event thread: posts one notice and waits until it is taken or the stop is signalled.
    // Returns false when stopped.
    bool Deliver(TComEvents Events, bool HangUp);
    void Stop();

    // GUI thread: the port lets go of this object; notices still queued are dropped. Deleted at
    // once, or by the outermost running handler as it returns when let go from inside one.
    static void Release(std::unique_ptr<TComNotices>& Notices);

    // GUI thread: bytes were read. Tells the thread whether queued bytes are new, and wakes it
    // when it waits for announced bytes to be taken.
    void BytesWereRead(int Count);
    int64_t BytesRead() const { return FBytesRead.load(); }
    int ReadSignal() const { return FReadSignal; } // also raised when a handler returns
    // Every notice delivered so far has been handled to its end.
    bool AllHandled() const { return FHandled.load() == FDelivered.load(); }

protected:
    bool event(QEvent* E) override;

private:
    void RaiseReadSignal();

    TCustomComPort* FPort;
    int FHandling = 0;
    bool FOrphaned = false;
    std::mutex FLock;
    std::condition_variable FTaken;
    bool FPending = false;
    bool FStopped = false;
    std::atomic<int64_t> FBytesRead{0};
    std::atomic<int64_t> FDelivered{0};
    std::atomic<int64_t> FHandled{0};
    int FReadSignal = -1;
};

class TComThread
{
public:
    TComThread(int Handle, TComNotices& Notices);
    ~TComThread(); // stops and joins
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    void Stop();
    std::chrono::nanoseconds CpuTime() const;
    TComEvents LastEvents() const { return FLastEvents.load(); }

private:
    void Run();
    TComEvents Wait(bool& HangUp);

    int FHandle;
    TComNotices& FNotices;
    int FStopSignal = -1;
    std::atomic<TComEvents> FLastEvents{};
    int64_t FNotifiedTotal = -1;
    int64_t FLineErrors = 0;
    std::thread FThread;
};
