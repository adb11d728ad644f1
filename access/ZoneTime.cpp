#include "access/ZoneTime.h"

namespace {

constexpr qint64 MsPerHour = 3600 * 1000;
const qint64 EpochDay = QDate(1970, 1, 1).toJulianDay();

qint64 OffsetMs(const QTimeZone& Zone, TInstant At)
{
    return qint64(Zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(At, Qt::UTC))) * 1000;
}

qint64 FloorDiv(qint64 A, qint64 B) { return A / B - ((A % B != 0) && ((A < 0) != (B < 0))); }

} // namespace

TInstant FirstShowing(const QTimeZone& Zone, QDate Day, int Minute)
{
    // The wall reading as if the zone were UTC; the instant lies within a day's offsets of it.
    const qint64 Wall = (Day.toJulianDay() - EpochDay) * MsPerDay + Minute * MsPerMinute;
    const qint64 Early = OffsetMs(Zone, Wall - 15 * MsPerHour);
    const qint64 Late = OffsetMs(Zone, Wall + 15 * MsPerHour);
    TInstant Best = NeverAfter;
    for (const qint64 Offset : {Early, Late}) {
        const TInstant At = Wall - Offset;
        if (OffsetMs(Zone, At) == Offset && At < Best)
            Best = At;
    }
    if (Best != NeverAfter)
        return Best;
    if (Late <= Early)
        return Wall - Early; // two changes within a day: no zone in use does that any more
    // In the gap the clock jumps over: the change itself, when the clock shows the gap's end.
    const QTimeZone::OffsetData Change = Zone.nextTransition(QDateTime::fromMSecsSinceEpoch(Wall - Late, Qt::UTC));
    return Change.atUtc.isValid() ? Change.atUtc.toMSecsSinceEpoch() : Wall - Early;
}

QDate DayAt(const QTimeZone& Zone, TInstant At)
{
    return QDate::fromJulianDay(FloorDiv(At + OffsetMs(Zone, At), MsPerDay) + EpochDay);
}

TInstant InstantOf(const QDateTime& Time) { return Time.toMSecsSinceEpoch(); }

QDateTime LocalTimeOf(const QTimeZone& Zone, TInstant At) { return QDateTime::fromMSecsSinceEpoch(At, Zone); }
