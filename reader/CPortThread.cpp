#include "reader/CPortThread.h"

#include "reader/CPortDevice.h"

#include <QCoreApplication>
#include <QEvent>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace {

class TNoticeEvent : public QEvent
{
public:
    static QEvent::Type Kind()
    {
        static const int Registered = QEvent::registerEventType();
        return QEvent::Type(Registered);
    }
    TNoticeEvent(TComEvents Events, bool HangUp) : QEvent(Kind()), Events(Events), HangUp(HangUp) {}
    TComEvents Events;
    bool HangUp;
};

// Unread bytes that were already announced are polled for this often at most, so a handler
// that leaves them in the queue cannot make the thread spin.
constexpr int UnreadRecheckMs = 20;

} // namespace

TComNotices::TComNotices(TCustomComPort& Port) : FPort(&Port)
{
    FReadSignal = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FReadSignal < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

TComNotices::~TComNotices() { ::close(FReadSignal); }

void TComNotices::BytesWereRead(int Count)
{
    FBytesRead += Count;
    RaiseReadSignal();
}

void TComNotices::RaiseReadSignal()
{
    const uint64_t One = 1;
    [[maybe_unused]] const ssize_t Ignored = ::write(FReadSignal, &One, sizeof One);
}

bool TComNotices::Deliver(TComEvents Events, bool HangUp)
{
    std::unique_lock Guard(FLock);
    if (FStopped)
        return false;
    FPending = true;
    ++FDelivered;
    QCoreApplication::postEvent(this, new TNoticeEvent(Events, HangUp));
    FTaken.wait(Guard, [this] { return !FPending || FStopped; });
    return !FStopped;
}

void TComNotices::Stop()
{
    std::lock_guard Guard(FLock);
    FStopped = true;
    FTaken.notify_all();
}

bool TComNotices::event(QEvent* E)
{
    if (E->type() != TNoticeEvent::Kind())
        return QObject::event(E);
    const auto* Notice = static_cast<TNoticeEvent*>(E);
    {
        std::lock_guard Guard(FLock);
        FPending = false;
        FTaken.notify_all();
    }
    if (!FPort) {
        ++FHandled;
        return true;
    }
    // Nothing may unwind through the event loop: errors go to the application's report.
    ++FHandling;
    try {
        if (Notice->HangUp)
            FPort->HandleHangUp();
        else
            FPort->HandleNotice(Notice->Events);
    } catch (const std::exception& Error) {
        ReportException(Error);
    }
    ++FHandled;
    RaiseReadSignal();
    if (--FHandling == 0 && FOrphaned)
        delete this; // let go beneath this handler: the last one out deletes
    return true;
}

void TComNotices::Release(std::unique_ptr<TComNotices>& Notices)
{
    if (!Notices)
        return;
    Notices->Stop();
    Notices->FPort = nullptr;
    if (Notices->FHandling > 0)
        Notices.release()->FOrphaned = true;
    else
        Notices.reset();
}

TComThread::TComThread(int Handle, TComNotices& Notices) : FHandle(Handle), FNotices(Notices)
{
    FStopSignal = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FStopSignal < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    FLineErrors = ComDevice::LineErrorCount(FHandle);
    try {
        FThread = std::thread([this] { Run(); });
    } catch (...) {
        ::close(FStopSignal);
        throw;
    }
}

TComThread::~TComThread()
{
    Stop();
    if (FThread.joinable())
        FThread.join();
    ::close(FStopSignal);
}

void TComThread::Stop()
{
    const uint64_t One = 1;
    [[maybe_unused]] const ssize_t Ignored = ::write(FStopSignal, &One, sizeof One);
    FNotices.Stop();
}

std::chrono::nanoseconds TComThread::CpuTime() const
{
    clockid_t Clock;
    timespec Used{};
    if (pthread_getcpuclockid(const_cast<std::thread&>(FThread).native_handle(), &Clock) != 0 ||
        clock_gettime(Clock, &Used) != 0)
        return {};
    return std::chrono::seconds(Used.tv_sec) + std::chrono::nanoseconds(Used.tv_nsec);
}

void TComThread::Run()
{
    for (;;) {
        bool HangUp = false;
        const TComEvents Events = Wait(HangUp);
        if (!HangUp && Events.Empty())
            break; // stopped
        FLastEvents = Events;
        if (!FNotices.Deliver(Events, HangUp) || HangUp)
            break;
    }
    // Both queues are discarded on the way out, so unread bytes do not survive a close.
    ComDevice::Flush(FHandle);
}

// Blocks until there is something to report; an empty set means stop.
TComEvents TComThread::Wait(bool& HangUp)
{
    for (;;) {
        // End of input is how a network reader's link reports a drop; a tty never raises it.
        pollfd Watch[2] = {{FStopSignal, POLLIN, 0}, {FHandle, POLLIN | POLLRDHUP, 0}};
        if (poll(Watch, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            HangUp = true; // a wait that fails cannot be retried without spinning
            return {};
        }
        if (Watch[0].revents)
            return {};
        const bool Gone = Watch[1].revents & (POLLHUP | POLLRDHUP | POLLERR | POLLNVAL);
        TComEvents Events;
        const int64_t Errors = ComDevice::LineErrorCount(FHandle);
        if (Errors != FLineErrors) {
            FLineErrors = Errors;
            Events.Include(evError);
        }
        // Bytes received so far, read before the queue: a read in between makes the sum too
        // small, never too large, and that read wakes this thread to count again. Too large
        // would hide the next bytes that bring the true sum up to it.
        const int64_t Read = FNotices.BytesRead();
        int Queued = 0;
        ComDevice::Waiting(FHandle, Queued);
        const int64_t Total = Read + Queued;
        if (Queued > 0 && Total > FNotifiedTotal) {
            FNotifiedTotal = Total;
            Events.Include(evRxChar);
        }
        if (!Events.Empty())
            return Events;
        // Bytes that came with the hang-up were announced first: it follows once they are read,
        // or once the handlers that were told of them have returned without reading them.
        if (Gone && (Queued == 0 || FNotices.AllHandled())) {
            HangUp = true;
            return {};
        }
        // Only bytes that were announced and are still unread: look again once some are read,
        // or a little later.
        pollfd Again[2] = {{FStopSignal, POLLIN, 0}, {FNotices.ReadSignal(), POLLIN, 0}};
        if (poll(Again, 2, UnreadRecheckMs) > 0) {
            if (Again[0].revents)
                return {};
            uint64_t Drained;
            [[maybe_unused]] const ssize_t Ignored = ::read(FNotices.ReadSignal(), &Drained, sizeof Drained);
        }
    }
}
