#pragma once

#include "access/AccessRules.h"
#include "access/Clock.h"

#include <functional>
#include <optional>
#include <vector>

// One alarm for the next boundary of every door: the owner computes the doors' lists when OnDue
// runs, then arms it again. Between boundaries nothing wakes.
class TBoundaryAlarm
{
public:
    // Takes Clock's OnAlarm and OnClockSet for itself; Clock outlives it.
    explicit TBoundaryAlarm(TClock& Clock);
    ~TBoundaryAlarm();
    TBoundaryAlarm(const TBoundaryAlarm&) = delete;
    TBoundaryAlarm& operator=(const TBoundaryAlarm&) = delete;

    // Sets the clock's alarm for the first boundary after now of any door of any of Rules; none
    // when no list changes again.
    void Arm(const std::vector<const TAccessRules*>& Rules);
    // The boundary armed for.
    const std::optional<QDateTime>& Next() const { return FNext; }

    // A boundary came (ClockSet false) or the wall clock was set (true): compute every door's
    // list for the clock's now, then Arm.
    std::function<void(bool ClockSet)> OnDue;

private:
    void Due(bool ClockSet);

    TClock& FClock;
    std::optional<QDateTime> FNext;
};
