#include "access/OpenTimes.h"

#include <algorithm>

namespace {

// A week has every edge a schedule has: past this without one, there is none.
constexpr qint64 EdgeHorizon = 15 * MsPerDay;
// What a single question lays out, so that the next ones near it need nothing new.
constexpr qint64 AheadOfQuestion = 60 * MsPerDay;

} // namespace

void TOpenTimes::Cover(TInstant From, TInstant To)
{
    if (From >= FFrom && To <= FTo && FFrom < FTo)
        return;
    // A period of the day before may reach into the first day; one of the last day past its end.
    const QDate First = DayAt(FZone, From);
    const QDate Last = DayAt(FZone, To);
    FSpans.clear();
    for (QDate Day = First.addDays(-1); Day <= Last; Day = Day.addDays(1)) {
        for (const TPeriod& Period : FSchedule.Days[Day.dayOfWeek() - 1]) {
            const TInstant Opens = FirstShowing(FZone, Day, Period.Start);
            const TInstant Closes = FirstShowing(FZone, Day, Period.End);
            if (Opens < Closes) // a period wholly inside the hour the clocks skip has no time
                FSpans.push_back({Opens, Closes});
        }
    }
    std::sort(FSpans.begin(), FSpans.end(), [](const TSpan& A, const TSpan& B) { return A.From < B.From; });
    std::vector<TSpan> Joined;
    for (const TSpan& Span : FSpans) {
        if (!Joined.empty() && Span.From <= Joined.back().To)
            Joined.back().To = std::max(Joined.back().To, Span.To);
        else
            Joined.push_back(Span);
    }
    FSpans = std::move(Joined);
    FFrom = FirstShowing(FZone, First, 0);
    FTo = FirstShowing(FZone, Last.addDays(1), 0);
}

void TOpenTimes::CoverAround(TInstant At)
{
    if (At < FFrom || At + EdgeHorizon >= FTo || FFrom >= FTo)
        Cover(At - MsPerDay, At + AheadOfQuestion);
}

bool TOpenTimes::IsOpen(TInstant At)
{
    CoverAround(At);
    const auto After = std::upper_bound(FSpans.begin(), FSpans.end(), At, [](TInstant T, const TSpan& S) { return T < S.From; });
    return After != FSpans.begin() && At < std::prev(After)->To;
}

std::optional<TInstant> TOpenTimes::NextEdgeIn(TInstant After, bool OpeningOnly) const
{
    // The first span that opens after After, and the one before it, which may close after After.
    auto Next = std::upper_bound(FSpans.begin(), FSpans.end(), After, [](TInstant T, const TSpan& S) { return T < S.From; });
    std::optional<TInstant> Edge;
    if (!OpeningOnly && Next != FSpans.begin() && std::prev(Next)->To > After)
        Edge = std::prev(Next)->To;
    else if (Next != FSpans.end())
        Edge = Next->From;
    if (Edge && *Edge < FTo)
        return Edge;
    return std::nullopt;
}

std::optional<TInstant> TOpenTimes::NextEdge(TInstant After)
{
    CoverAround(After);
    return NextEdgeIn(After, false);
}

std::optional<TInstant> TOpenTimes::NextOpening(TInstant After)
{
    CoverAround(After);
    return NextEdgeIn(After, true);
}
