#pragma once

#include "access/Clock.h"

// A clock the test sets, behind the same seam as the system's: time moves only when the test
// moves it, and the alarm comes when it passes.
class TFakeClock : public TClock
{
public:
    TFakeClock(const QDateTime& Now, const QByteArray& Zone) : FNow(Now.toUTC()), FZone(Zone) {}

    QDateTime NowUtc() const override { return FNow; }
    QTimeZone Zone() const override { return FZone; }
    TClockSync Sync() const override { return FSync; }
    void SetAlarm(const std::optional<QDateTime>& At) override { FAlarm = At; }

    const std::optional<QDateTime>& Alarm() const { return FAlarm; }
    void SetSync(TClockSync Sync) { FSync = Sync; }

    // Time passes up to To: the alarm comes if To reaches it.
    void RunTo(const QDateTime& To)
    {
        FNow = To.toUTC();
        if (FAlarm && *FAlarm <= FNow) {
            FAlarm.reset();
            if (OnAlarm)
                OnAlarm();
        }
    }

    // The wall clock is set to To, as NTP's first synchronization does.
    void SetWallClock(const QDateTime& To)
    {
        FNow = To.toUTC();
        if (OnClockSet)
            OnClockSet();
        RunTo(FNow);
    }

private:
    QDateTime FNow;
    QTimeZone FZone;
    TClockSync FSync = TClockSync::Synchronized;
    std::optional<QDateTime> FAlarm;
};
