// When and why the doors' lists change: a sweep over the boundaries of a stretch of time, and
// the words for each change.

#include "access/AccessRules.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace {

// Something that may change a door's list at an instant: a card's from or until, or one of a
// schedule's edges (then every card on that schedule is looked at).
struct TEvent
{
    TInstant At;
    int Card;     // -1 for a schedule's edge
    int Schedule; // for a schedule's edge
    bool Opens;   // for a schedule's edge
};

} // namespace

void TAccessRules::Sweep(int Door, TInstant From, TInstant To, const std::function<void(const TListChange&)>& Sink) const
{
    const std::vector<TRule>& Rules = FRules[size_t(Door)];
    const int Cards = int(Rules.size());
    std::vector<std::vector<int>> OnSchedule(FOpen.size());
    std::vector<TEvent> Events;
    for (int C = 0; C < Cards; ++C) {
        if (Rules[size_t(C)].Kind != TRule::Dated && Rules[size_t(C)].Kind != TRule::Scheduled)
            continue;
        for (const TInstant At : {FFrom[size_t(C)], FUntil[size_t(C)]})
            if (From < At && At < To)
                Events.push_back({At, C, -1, false});
        if (Rules[size_t(C)].Kind == TRule::Scheduled)
            OnSchedule[size_t(Rules[size_t(C)].Schedule)].push_back(C);
    }
    for (int S = 0; S < int(FOpen.size()); ++S) {
        if (OnSchedule[size_t(S)].empty())
            continue;
        TOpenTimes& Open = *FOpen[size_t(S)];
        Open.Cover(From, To);
        const auto Edge = [&](TInstant At, bool Opens) {
            if (From < At && At < To && Open.CoveredFrom() < At && At < Open.CoveredTo())
                Events.push_back({At, -1, S, Opens});
        };
        for (const TOpenTimes::TSpan& Span : Open.Spans()) {
            Edge(Span.From, true);
            Edge(Span.To, false);
        }
    }
    std::sort(Events.begin(), Events.end(), [](const TEvent& A, const TEvent& B) { return A.At < B.At; });

    std::vector<char> Admitted(size_t(Cards), 0);
    for (int C = 0; C < Cards; ++C)
        Admitted[size_t(C)] = Admits(Door, C, From);
    std::vector<size_t> Seen(size_t(Cards), 0);
    size_t Round = 0;
    TListChange Change;
    Change.Door = FSetup.Doors[size_t(Door)].Id;
    for (size_t E = 0; E < Events.size();) {
        const TInstant At = Events[E].At;
        ++Round;
        Change.Added.clear();
        Change.Removed.clear();
        // Known: whether the card's schedule is open now, when this is one of its edges.
        const auto Look = [&](int C, std::optional<bool> Known) {
            if (Seen[size_t(C)] == Round)
                return;
            Seen[size_t(C)] = Round;
            const bool Now = Known ? *Known : Admits(Door, C, At);
            if (Now != bool(Admitted[size_t(C)])) {
                Admitted[size_t(C)] = Now;
                (Now ? Change.Added : Change.Removed).push_back(C);
            }
        };
        for (; E < Events.size() && Events[E].At == At; ++E) {
            if (Events[E].Card >= 0) {
                Look(Events[E].Card, std::nullopt);
                continue;
            }
            for (const int C : OnSchedule[size_t(Events[E].Schedule)])
                if (FFrom[size_t(C)] <= At && At < FUntil[size_t(C)])
                    Look(C, Events[E].Opens);
        }
        if (Change.Added.empty() && Change.Removed.empty())
            continue;
        std::sort(Change.Added.begin(), Change.Added.end());
        std::sort(Change.Removed.begin(), Change.Removed.end());
        Change.At = QDateTime::fromMSecsSinceEpoch(At, Qt::UTC);
        Sink(Change);
    }
}

void TAccessRules::ForEachChange(const QString& Door, const QDateTime& From, const QDateTime& To,
                                 const std::function<void(const TListChange&)>& Sink) const
{
    Sweep(DoorIndex(Door), InstantOf(From), InstantOf(To), Sink);
}

std::vector<TListChange> TAccessRules::Changes(const QDateTime& From, const QDateTime& To) const
{
    std::vector<TListChange> ByDoor;
    std::vector<std::pair<TInstant, size_t>> Order; // sorting these is cheaper than the changes
    for (int D = 0; D < int(FSetup.Doors.size()); ++D)
        Sweep(D, InstantOf(From), InstantOf(To), [&](const TListChange& Change) {
            Order.emplace_back(InstantOf(Change.At), ByDoor.size());
            ByDoor.push_back(Change);
        });
    std::sort(Order.begin(), Order.end());
    std::vector<TListChange> Changes;
    Changes.reserve(ByDoor.size());
    for (const auto& [At, Index] : Order)
        Changes.push_back(std::move(ByDoor[Index]));
    return Changes;
}

QString TAccessRules::ChangeWhy(const QString& Door, int Card, bool Added, const QDateTime& At) const
{
    const TRule& Rule = FRules[size_t(DoorIndex(Door))][size_t(Card)];
    const TSiteCard& Row = FSite.Cards[size_t(Card)];
    const TInstant When = InstantOf(At);
    const QString Schedule = Rule.Kind == TRule::Scheduled ? FScheduleNames[size_t(Rule.Schedule)] : QString();
    switch (Rule.Kind) {
    case TRule::Always: return QStringLiteral("master");
    case TRule::Never: return Added ? QStringLiteral("site list") : QStringLiteral("not for this door");
    case TRule::Dated:
    case TRule::Scheduled: break;
    }
    if (Added) {
        // A schedule's card that came at its from came by its from; otherwise by its schedule.
        if (Row.From && (Schedule.isEmpty() || When == FFrom[size_t(Card)]))
            return QStringLiteral("from ") + Row.From->Text();
        return Schedule.isEmpty() ? QStringLiteral("site list") : Schedule;
    }
    if (Row.Until && When >= FUntil[size_t(Card)])
        return QStringLiteral("until ") + Row.Until->Text();
    if (Row.From && When < FFrom[size_t(Card)])
        return QStringLiteral("not yet valid (from %1)").arg(Row.From->Text());
    return Schedule.isEmpty() ? QStringLiteral("site list") : Schedule;
}

QString TAccessRules::ChangeText(const QString& Door, const TDoorList& Before, const TDoorList& After, const QDateTime& At) const
{
    const QString Parts = ChangeParts(Door, Before, After, At);
    if (Parts.isEmpty())
        return {};
    const QString Time = LocalTimeOf(FSetup.Zone, InstantOf(At)).toString(QStringLiteral("HH:mm"));
    return QStringLiteral("%1: %2: %3").arg(FSetup.Doors[size_t(DoorIndex(Door))].Name, Time, Parts);
}

QString TAccessRules::ChangeParts(const QString& Door, const TDoorList& Before, const TDoorList& After, const QDateTime& At) const
{
    QStringList Parts;
    const auto Missing = [](const TDoorList& List, int Card) { return !std::binary_search(List.Cards.begin(), List.Cards.end(), Card); };
    for (const int C : After.Cards)
        if (Missing(Before, C))
            Parts.append(QStringLiteral("+%1 (%2)").arg(CardName(C), ChangeWhy(Door, C, true, At)));
    for (const int C : Before.Cards)
        if (Missing(After, C))
            Parts.append(QStringLiteral("-%1 (%2)").arg(CardName(C), ChangeWhy(Door, C, false, At)));
    return Parts.join(QStringLiteral(", "));
}

QString TAccessRules::LocalText(const QDateTime& At) const
{
    return LocalTimeOf(FSetup.Zone, InstantOf(At)).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}
