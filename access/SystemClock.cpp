#include "access/SystemClock.h"

#include "common/Errors.h"
#include "common/SystemError.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstdint>
#include <sys/timerfd.h>
#include <sys/timex.h>
#include <unistd.h>

namespace {

// With no alarm the timer still waits, far off, so that a setting of the clock is heard.
constexpr qint64 FarOffSeconds = qint64(100) * 366 * 24 * 3600;

[[noreturn]] void Fail(const char* What, int Error)
{
    throw Exception(Format("%s: %s", What, ErrnoText(Error).c_str()));
}

} // namespace

TSystemClock::TSystemClock(const QByteArray& ZoneId, QObject* Owner)
    : QObject(Owner), FZone(ZoneId.isEmpty() ? QTimeZone::systemTimeZone() : QTimeZone(ZoneId))
{
    if (!FZone.isValid())
        throw Exception(Format("unknown time zone \"%s\"", ZoneId.constData()));
    FTimer = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (FTimer < 0)
        Fail("cannot make a timer", errno);
    FNotifier = new QSocketNotifier(FTimer, QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] {
        try {
            OnReadable();
        } catch (const std::exception& E) {
            ReportException(E);
        }
    });
    Arm();
}

TSystemClock::~TSystemClock()
{
    delete FNotifier;
    ::close(FTimer);
}

QDateTime TSystemClock::NowUtc() const { return QDateTime::currentDateTimeUtc(); }

TClockSync TSystemClock::Sync() const
{
    timex Query{};
    const int State = ::adjtimex(&Query); // modes 0: asks, changes nothing
    if (State < 0)
        return TClockSync::Unknown;
    return State == TIME_ERROR || (Query.status & STA_UNSYNC) ? TClockSync::Unsynchronized : TClockSync::Synchronized;
}

void TSystemClock::SetAlarm(const std::optional<QDateTime>& At)
{
    FAlarm = At;
    Arm();
}

void TSystemClock::Arm()
{
    itimerspec When{};
    if (FAlarm) {
        const qint64 Ms = FAlarm->toMSecsSinceEpoch();
        When.it_value.tv_sec = time_t(Ms / 1000);
        When.it_value.tv_nsec = long(Ms % 1000) * 1000000;
    } else {
        When.it_value.tv_sec = time_t(QDateTime::currentSecsSinceEpoch() + FarOffSeconds);
    }
    // An alarm at or before the epoch would read as "disarm": the earliest real one instead.
    if (When.it_value.tv_sec <= 0) {
        When.it_value.tv_sec = 0;
        When.it_value.tv_nsec = 1;
    }
    if (timerfd_settime(FTimer, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &When, nullptr) < 0)
        Fail("cannot set the timer", errno);
}

void TSystemClock::OnReadable()
{
    uint64_t Expired = 0;
    if (::read(FTimer, &Expired, sizeof Expired) == ssize_t(sizeof Expired)) {
        const bool WasAlarm = FAlarm.has_value();
        FAlarm.reset();
        Arm();
        if (WasAlarm && OnAlarm)
            OnAlarm();
        return;
    }
    if (errno != ECANCELED)
        return; // EAGAIN: someone else's wake-up
    Arm();
    if (OnClockSet)
        OnClockSet();
}
