// The site list's CSV form (see SiteList.h): the header names the columns, each row one card.

#include "access/Schedule.h"
#include "access/SiteList.h"
#include "cards/CardColumns.h"
#include "common/LineFault.h"

#include <QHash>
#include <QRegularExpression>

namespace {

struct TColumns
{
    int From = -1;
    int Until = -1;
    std::vector<int> Doors; // the field of each door in TSiteList::Doors
};

class TSiteCsvReader
{
public:
    TSiteCsvReader(const QString& FileName) { FRead.Site.FileName = FileName; }

    TSiteRead Read(const QString& Text)
    {
        std::vector<TCsvRecord> Records;
        try {
            Records = ParseCsv(Text);
        } catch (const ELineFault& E) {
            Problem(E.Line, E.Reason);
            return std::move(FRead);
        }
        if (Records.empty() || !StartsWithCardColumns(Records.front().Fields)) {
            Problem(Records.empty() ? 1 : Records.front().Line,
                    QStringLiteral("the first line must be the header card,name,master, then from, until and the doors' ids"));
            return std::move(FRead);
        }
        Header(Records.front());
        for (size_t R = 1; R < Records.size(); ++R)
            Row(Records[R]);
        ImplicitMaster();
        return std::move(FRead);
    }

private:
    void Problem(int Line, const QString& Text) { FRead.Problems.push_back({Line, Text}); }

    void Header(const TCsvRecord& Record)
    {
        static const QRegularExpression DoorId(QStringLiteral("^[A-Za-z0-9-]+$"));
        FRead.Site.HeaderLine = Record.Line;
        FFields = int(Record.Fields.size());
        for (int I = int(CardColumnsHeader().size()); I < FFields; ++I) {
            const QString Name = Record.Fields[I].trimmed();
            int* Bound = Name.compare(u"from", Qt::CaseInsensitive) == 0    ? &FColumns.From
                         : Name.compare(u"until", Qt::CaseInsensitive) == 0 ? &FColumns.Until
                                                                             : nullptr;
            if (Bound && *Bound >= 0)
                Problem(Record.Line, QStringLiteral("the column %1 is given twice").arg(Name.toLower()));
            else if (Bound)
                *Bound = I;
            else if (!DoorId.match(Name).hasMatch())
                Problem(Record.Line, QStringLiteral("column %1: \"%2\" is not a door's id (letters, digits and '-')").arg(I + 1).arg(Name));
            else if (FRead.Site.Doors.contains(Name))
                Problem(Record.Line, QStringLiteral("the door %1 has two columns").arg(Name));
            else {
                FRead.Site.Doors.append(Name);
                FColumns.Doors.push_back(I);
            }
        }
    }

    std::optional<TLocalMoment> Bound(const TCsvRecord& Record, int Column, bool& Bad)
    {
        const QString Text = Record.Fields.value(Column).trimmed();
        if (Column < 0 || Text.isEmpty())
            return std::nullopt;
        const std::optional<TLocalMoment> Moment = LocalMomentFromText(Text);
        if (!Moment) {
            Problem(Record.Line, QStringLiteral("%1 \"%2\" is not a day such as 2026-12-31, 2026-12-31 18:00 or 2026-12-31T18:00")
                                     .arg(Column == FColumns.From ? "from" : "until", Text));
            Bad = true;
        }
        return Moment;
    }

    std::optional<TDoorCell> Cell(const TCsvRecord& Record, size_t Door)
    {
        const QString Text = Record.Fields.value(FColumns.Doors[Door]).trimmed();
        if (const std::optional<TDoorCell> Cell = DoorCellFromText(Text))
            return Cell;
        Problem(Record.Line, QStringLiteral("door %1: \"%2\" is not yes, no or a schedule's name").arg(FRead.Site.Doors[qsizetype(Door)], Text));
        return std::nullopt;
    }

    void Row(const TCsvRecord& Record)
    {
        if (Record.Fields.size() > FFields) {
            Problem(Record.Line, QStringLiteral("%1 fields, and the header has %2").arg(Record.Fields.size()).arg(FFields));
            return;
        }
        TCardColumns Columns;
        try {
            Columns = CardColumnsOf(Record);
        } catch (const ELineFault& E) {
            Problem(E.Line, E.Reason);
            return;
        }
        TSiteCard Card{Columns.Tag, Record.Line, {}, {}, {}};
        const uint32_t Value = Card.Tag.CardValue();
        bool Bad = false;
        if (const auto Earlier = FLineOfCard.constFind(Value); Earlier != FLineOfCard.cend()) {
            Problem(Record.Line, QStringLiteral("card %1 is already on line %2").arg(Value).arg(*Earlier));
            Bad = true;
        } else {
            FLineOfCard.insert(Value, Record.Line); // a row left out for another fault still holds its card
        }
        Card.From = Bound(Record, FColumns.From, Bad);
        Card.Until = Bound(Record, FColumns.Until, Bad);
        if (Card.From && Card.Until && !IsAfter(*Card.Until, *Card.From)) {
            Problem(Record.Line, QStringLiteral("until %1 is not after from %2").arg(Card.Until->Text(), Card.From->Text()));
            Bad = true;
        }
        for (size_t Door = 0; Door < FColumns.Doors.size(); ++Door) {
            const std::optional<TDoorCell> Cell = this->Cell(Record, Door);
            Bad = Bad || !Cell;
            Card.Cells.push_back(Cell.value_or(TDoorCell{}));
        }
        const bool Ruled = HasRules(Record, Card);
        if (Columns.Master && !Master(Card, Ruled))
            Bad = true;
        if (Bad)
            return;
        if (FRead.Site.Cards.empty())
            FFirstRuled = Ruled;
        if (Columns.Master) {
            FRead.Site.Master = int(FRead.Site.Cards.size());
            FRead.Site.MasterMarked = true;
        }
        FRead.Site.Cards.push_back(std::move(Card));
    }

    // Whether Until, which lasts through its day when it is a day, ends after From starts.
    static bool IsAfter(const TLocalMoment& Until, const TLocalMoment& From)
    {
        const QDate UntilDay = Until.HasTime() ? Until.Date : Until.Date.addDays(1);
        const QTime UntilTime = Until.HasTime() ? Until.Time : QTime(0, 0);
        const QTime FromTime = From.HasTime() ? From.Time : QTime(0, 0);
        return UntilDay > From.Date || (UntilDay == From.Date && UntilTime > FromTime);
    }

    // Whether the row limits the card in any way, which a master card cannot be.
    bool HasRules(const TCsvRecord& Record, const TSiteCard& Card) const
    {
        for (const int Field : FColumns.Doors) {
            const QString Text = Record.Fields.value(Field).trimmed();
            if (!Text.isEmpty() && Text.compare(u"yes", Qt::CaseInsensitive) != 0)
                return true;
        }
        return Card.From || Card.Until;
    }

    bool Master(const TSiteCard& Card, bool Ruled)
    {
        if (FMasterLine) {
            Problem(Card.Line, QStringLiteral("a second master card (the first is on line %1)").arg(FMasterLine));
            return false;
        }
        if (Ruled) {
            Problem(Card.Line, QStringLiteral("the master card opens every door at all times: leave its from, until and "
                                              "door cells empty"));
            return false;
        }
        FMasterLine = Card.Line;
        return true;
    }

    // As dorvik-cli import does, the first card is the master when no row says which.
    void ImplicitMaster()
    {
        if (FRead.Site.Master >= 0 || FRead.Site.Cards.empty() || FMasterLine)
            return;
        const TSiteCard& First = FRead.Site.Cards.front();
        if (FFirstRuled)
            Problem(First.Line, QStringLiteral("no row says master = yes, so this first card is the master, which opens "
                                               "every door at all times: mark the master card, or leave this card's from, "
                                               "until and door cells empty"));
        FRead.Site.Master = 0;
    }

    TSiteRead FRead;
    TColumns FColumns;
    int FFields = 0;
    int FMasterLine = 0;
    bool FFirstRuled = false;
    QHash<uint32_t, int> FLineOfCard;
};

} // namespace

TSiteRead ReadSiteCsv(const QString& FileName, const QString& Text) { return TSiteCsvReader(FileName).Read(Text); }

std::optional<TDoorCell> DoorCellFromText(const QString& Given)
{
    const QString Text = Given.trimmed();
    if (Text.isEmpty() || Text.compare(u"no", Qt::CaseInsensitive) == 0)
        return TDoorCell{TDoorCell::No, {}};
    if (Text.compare(u"yes", Qt::CaseInsensitive) == 0)
        return TDoorCell{TDoorCell::Yes, {}};
    if (IsScheduleName(Text))
        return TDoorCell{TDoorCell::Scheduled, Text};
    return std::nullopt;
}

QString DoorCellText(const TDoorCell& Cell)
{
    return Cell.Kind == TDoorCell::Yes ? QStringLiteral("yes") : Cell.Kind == TDoorCell::Scheduled ? Cell.Schedule : QString();
}
