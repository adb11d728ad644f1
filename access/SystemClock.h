#pragma once

#include "access/Clock.h"

#include <QObject>

class QSocketNotifier;

// The system's clock: an alarm on a timerfd that also hears the wall clock being set, and
// adjtimex for whether the clock is synchronized. Asleep between alarms.
class TSystemClock : public QObject, public TClock
{
public:
    // ZoneId: the site's zone as the tz database names it ("Europe/Berlin"); empty: the system's.
    // Raises Exception for a zone the system does not know or a timer it will not give.
    TSystemClock(const QByteArray& ZoneId, QObject* Owner);
    ~TSystemClock() override;

    QDateTime NowUtc() const override;
    QTimeZone Zone() const override { return FZone; }
    TClockSync Sync() const override;
    void SetAlarm(const std::optional<QDateTime>& At) override;

private:
    void Arm();
    void OnReadable();

    QTimeZone FZone;
    int FTimer = -1;
    QSocketNotifier* FNotifier = nullptr;
    std::optional<QDateTime> FAlarm;
};
