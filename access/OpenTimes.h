#pragma once

#include "access/Schedule.h"
#include "access/ZoneTime.h"

#include <optional>
#include <utility>
#include <vector>

// When a weekly schedule is open, as instants: its periods laid on the days of a zone's clock,
// overlapping and touching ones joined. It keeps the spans of one stretch of time and lays them
// again only for a question outside it.
class TOpenTimes
{
public:
    struct TSpan
    {
        TInstant From; // opens
        TInstant To;   // closes
    };

    TOpenTimes(TSchedule Schedule, QTimeZone Zone) : FSchedule(std::move(Schedule)), FZone(std::move(Zone)) {}

    // Makes Spans() hold every span that meets [From, To).
    void Cover(TInstant From, TInstant To);

    // Whether it is open at At (it opens at a span's From and is closed again at its To).
    bool IsOpen(TInstant At);
    // The first instant after After at which it opens or closes; none when it never does again.
    std::optional<TInstant> NextEdge(TInstant After);
    // The first instant after After at which it opens; none when it never does again.
    std::optional<TInstant> NextOpening(TInstant After);

    // Spans of the stretch last covered, in order. An edge is one where it opens or closes only
    // strictly inside (CoveredFrom, CoveredTo): at the ends a span may go on beyond.
    const std::vector<TSpan>& Spans() const { return FSpans; }
    TInstant CoveredFrom() const { return FFrom; }
    TInstant CoveredTo() const { return FTo; }

private:
    void CoverAround(TInstant At);
    std::optional<TInstant> NextEdgeIn(TInstant After, bool OpeningOnly) const;

    TSchedule FSchedule;
    QTimeZone FZone;
    std::vector<TSpan> FSpans;
    TInstant FFrom = 0;
    TInstant FTo = 0;
};
