#include "access/BoundaryAlarm.h"

TBoundaryAlarm::TBoundaryAlarm(TClock& Clock) : FClock(Clock)
{
    FClock.OnAlarm = [this] { Due(false); };
    FClock.OnClockSet = [this] { Due(true); };
}

TBoundaryAlarm::~TBoundaryAlarm()
{
    FClock.SetAlarm(std::nullopt);
    FClock.OnAlarm = nullptr;
    FClock.OnClockSet = nullptr;
}

void TBoundaryAlarm::Arm(const std::vector<const TAccessRules*>& Rules)
{
    const QDateTime Now = FClock.NowUtc();
    FNext.reset();
    for (const TAccessRules* Set : Rules)
        if (const std::optional<QDateTime> Next = Set->NextBoundary(Now); Next && (!FNext || *Next < *FNext))
            FNext = Next;
    FClock.SetAlarm(FNext);
}

void TBoundaryAlarm::Due(bool ClockSet)
{
    FNext.reset();
    if (OnDue)
        OnDue(ClockSet);
}
