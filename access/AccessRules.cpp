#include "access/AccessRules.h"

#include "cards/NameText.h"
#include "common/Errors.h"

#include <algorithm>

namespace {

// From a day: its first instant. With a time: that time's first showing.
TInstant StartOf(const QTimeZone& Zone, const TLocalMoment& Moment)
{
    return FirstShowing(Zone, Moment.Date, Moment.HasTime() ? Moment.Time.msecsSinceStartOfDay() / int(MsPerMinute) : 0);
}

// Until a day: through its end, up to the next day's first instant. With a time: up to it.
TInstant EndOf(const QTimeZone& Zone, const TLocalMoment& Moment)
{
    return Moment.HasTime() ? StartOf(Zone, Moment) : FirstShowing(Zone, Moment.Date.addDays(1), 0);
}

} // namespace

TAccessRules::TAccessRules(TSiteList Site, TAccessSetup Setup) : FSite(std::move(Site)), FSetup(std::move(Setup))
{
    if (FSetup.Doors.empty()) {
        for (const QString& Id : FSite.Doors)
            FSetup.Doors.push_back({Id, Id});
        if (FSite.Doors.isEmpty())
            FSetup.Doors.push_back({QStringLiteral("*"), QStringLiteral("every door")});
    }
    for (const TSiteCard& Card : FSite.Cards) {
        FCardOfValue.insert(Card.Tag.CardValue(), int(FFrom.size()));
        FFrom.push_back(Card.From ? StartOf(FSetup.Zone, *Card.From) : NeverBefore);
        FUntil.push_back(Card.Until ? EndOf(FSetup.Zone, *Card.Until) : NeverAfter);
    }
    MakeRules();
}

TAccessRules::~TAccessRules() = default;

void TAccessRules::MakeRules()
{
    for (const TAccessDoor& Door : FSetup.Doors) {
        const qsizetype Column = FSite.Doors.indexOf(Door.Id);
        std::vector<TRule>& Rules = FRules.emplace_back(FSite.Cards.size());
        for (size_t C = 0; C < FSite.Cards.size(); ++C) {
            const TDoorCell Cell = FSite.Doors.isEmpty() ? TDoorCell{TDoorCell::Yes, {}}
                                   : Column >= 0         ? FSite.Cards[C].Cells[size_t(Column)]
                                                         : TDoorCell{};
            TRule& Rule = Rules[C];
            if (int(C) == FSite.Master) {
                Rule.Kind = TRule::Always;
            } else if (Cell.Kind == TDoorCell::Yes) {
                Rule.Kind = TRule::Dated;
            } else if (Cell.Kind == TDoorCell::Scheduled && FSetup.Schedules.contains(Cell.Schedule)) {
                Rule.Kind = TRule::Scheduled;
                auto Known = std::find(FScheduleNames.begin(), FScheduleNames.end(), Cell.Schedule);
                if (Known == FScheduleNames.end()) {
                    FOpen.push_back(std::make_unique<TOpenTimes>(FSetup.Schedules.value(Cell.Schedule), FSetup.Zone));
                    Known = FScheduleNames.insert(FScheduleNames.end(), Cell.Schedule);
                }
                Rule.Schedule = int(Known - FScheduleNames.begin());
            }
        }
    }
}

int TAccessRules::DoorIndex(const QString& Door) const
{
    for (size_t I = 0; I < FSetup.Doors.size(); ++I)
        if (FSetup.Doors[I].Id == Door)
            return int(I);
    throw Exception(Format("no door \"%s\" takes its cards from %s", Door.toUtf8().constData(), FSite.FileName.toUtf8().constData()));
}

bool TAccessRules::Admits(int Door, int Card, TInstant At) const
{
    const TRule& Rule = FRules[size_t(Door)][size_t(Card)];
    switch (Rule.Kind) {
    case TRule::Never: return false;
    case TRule::Always: return true;
    case TRule::Dated: return FFrom[size_t(Card)] <= At && At < FUntil[size_t(Card)];
    case TRule::Scheduled:
        return FFrom[size_t(Card)] <= At && At < FUntil[size_t(Card)] && FOpen[size_t(Rule.Schedule)]->IsOpen(At);
    }
    return false;
}

std::optional<TInstant> TAccessRules::NextChange(int Door, int Card, TInstant After) const
{
    const TRule& Rule = FRules[size_t(Door)][size_t(Card)];
    const TInstant From = FFrom[size_t(Card)];
    const TInstant Until = FUntil[size_t(Card)];
    if (Rule.Kind == TRule::Never || Rule.Kind == TRule::Always || After >= Until || From >= Until)
        return std::nullopt;
    if (Rule.Kind == TRule::Dated)
        return After < From ? From : Until == NeverAfter ? std::optional<TInstant>() : Until;
    TOpenTimes& Open = *FOpen[size_t(Rule.Schedule)];
    if (After < From) {
        if (Open.IsOpen(From))
            return From;
        const std::optional<TInstant> Opens = Open.NextOpening(From);
        return Opens && *Opens < Until ? Opens : std::nullopt;
    }
    if (Open.IsOpen(After)) {
        const std::optional<TInstant> Closes = Open.NextEdge(After);
        return Closes ? std::min(*Closes, Until) : Until == NeverAfter ? std::optional<TInstant>() : Until;
    }
    const std::optional<TInstant> Opens = Open.NextOpening(After);
    return Opens && *Opens < Until ? Opens : std::nullopt;
}

TDoorList TAccessRules::ListAt(const QString& Door, const QDateTime& At) const
{
    const int D = DoorIndex(Door);
    TDoorList List;
    for (int C = 0; C < int(FSite.Cards.size()); ++C)
        if (Admits(D, C, InstantOf(At)))
            List.Cards.push_back(C);
    return List;
}

std::optional<QDateTime> TAccessRules::NextBoundary(const QString& Door, const QDateTime& After) const
{
    const int D = DoorIndex(Door);
    const TInstant At = InstantOf(After);
    std::optional<TInstant> First;
    // A card whose schedule would have to be laid out at a far from is asked last, and only when
    // no other change comes before that from.
    std::vector<int> Later;
    for (int C = 0; C < int(FSite.Cards.size()); ++C) {
        if (FRules[size_t(D)][size_t(C)].Kind == TRule::Scheduled && At < FFrom[size_t(C)])
            Later.push_back(C);
        else if (const std::optional<TInstant> Change = NextChange(D, C, At); Change && (!First || *Change < *First))
            First = Change;
    }
    std::sort(Later.begin(), Later.end(), [this](int A, int B) { return FFrom[size_t(A)] < FFrom[size_t(B)]; });
    for (const int C : Later) {
        if (First && FFrom[size_t(C)] >= *First)
            break;
        if (const std::optional<TInstant> Change = NextChange(D, C, At); Change && (!First || *Change < *First))
            First = Change;
    }
    return First ? std::optional<QDateTime>(QDateTime::fromMSecsSinceEpoch(*First, Qt::UTC)) : std::nullopt;
}

std::optional<QDateTime> TAccessRules::NextBoundary(const QDateTime& After) const
{
    std::optional<QDateTime> First;
    for (const TAccessDoor& Door : FSetup.Doors)
        if (const std::optional<QDateTime> Next = NextBoundary(Door.Id, After); Next && (!First || *Next < *First))
            First = Next;
    return First;
}

TLoadedCardDatabase TAccessRules::ReaderList(const TDoorList& List) const
{
    TLoadedCardDatabase Reader;
    for (const int C : List.Cards) {
        if (C == FSite.Master)
            Reader.Master = uint32_t(Reader.Tags.Count());
        Reader.Tags.Add() = FSite.Cards[size_t(C)].Tag;
    }
    return Reader;
}

QString TAccessRules::Refusal(const QString& Door, uint32_t CardValue, const QDateTime& At) const
{
    const int D = DoorIndex(Door);
    const int C = FCardOfValue.value(CardValue, -1);
    if (C < 0)
        return QStringLiteral("not on the site list");
    const TRule& Rule = FRules[size_t(D)][size_t(C)];
    const TSiteCard& Card = FSite.Cards[size_t(C)];
    const TInstant When = InstantOf(At);
    if (Rule.Kind == TRule::Always)
        return {};
    if (Rule.Kind == TRule::Never)
        return QStringLiteral("not for this door");
    if (When >= FUntil[size_t(C)])
        return QStringLiteral("expired %1").arg(Card.Until->Text());
    if (When < FFrom[size_t(C)])
        return QStringLiteral("not yet valid (from %1)").arg(Card.From->Text());
    if (Rule.Kind == TRule::Scheduled && !FOpen[size_t(Rule.Schedule)]->IsOpen(When))
        return QStringLiteral("outside hours (%1)").arg(FScheduleNames[size_t(Rule.Schedule)]);
    return {};
}

QString TAccessRules::RuleText(const QString& Door, int Card) const
{
    const TRule& Rule = FRules[size_t(DoorIndex(Door))][size_t(Card)];
    const TSiteCard& Row = FSite.Cards[size_t(Card)];
    switch (Rule.Kind) {
    case TRule::Always: return QStringLiteral("master");
    case TRule::Never: return QStringLiteral("no");
    case TRule::Dated:
    case TRule::Scheduled: break;
    }
    QString Text = Rule.Kind == TRule::Scheduled ? FScheduleNames[size_t(Rule.Schedule)] : QStringLiteral("yes");
    if (Row.From)
        Text += QStringLiteral(", from ") + Row.From->Text();
    if (Row.Until)
        Text += QStringLiteral(", until ") + Row.Until->Text();
    return Text;
}

QString TAccessRules::CardName(int Card) const
{
    const TRfidTag& Tag = FSite.Cards[size_t(Card)].Tag;
    const QString Name = NameToText(Tag.Name);
    return Name.isEmpty() ? Tag.CardNumber() : Name;
}
