#include "access/SiteRows.h"

#include "cards/CardColumns.h"
#include "cards/NameText.h"
#include "common/CsvLine.h"

void TSiteRows::AddDoors(const QStringList& Ids)
{
    const auto Add = [this](const QString& Id, bool Every) {
        Doors.append(Id);
        for (TSiteRow& Row : Rows)
            Row.Cells.append(Every && Row.Master.isEmpty() ? QStringLiteral("yes") : QString());
    };
    if (Doors.isEmpty() && !Ids.isEmpty())
        for (const QString& Id : EveryDoor)
            Add(Id, true);
    for (const QString& Id : Ids)
        if (!Doors.contains(Id))
            Add(Id, false);
}

TSiteRows SiteRows(const TSiteList& Site)
{
    TSiteRows Rows;
    Rows.Doors = Site.Doors;
    // The first card is the master unless a row says otherwise: say it only when the file did,
    // or when it is not the first.
    const bool SayMaster = Site.MasterMarked || Site.Master > 0;
    for (size_t I = 0; I < Site.Cards.size(); ++I) {
        const TSiteCard& Card = Site.Cards[I];
        TSiteRow Row{QString::number(Card.Tag.CardValue()), NameToText(Card.Tag.Name),
                     SayMaster && int(I) == Site.Master ? QStringLiteral("yes") : QString(),
                     Card.From ? Card.From->Text() : QString(), Card.Until ? Card.Until->Text() : QString(), {}};
        for (const TDoorCell& Cell : Card.Cells)
            Row.Cells.append(DoorCellText(Cell));
        Rows.Rows.push_back(std::move(Row));
    }
    return Rows;
}

QString SiteCsvText(const TSiteRows& Rows)
{
    QString Text = CsvLine(CardColumnsHeader() + QStringList{QStringLiteral("from"), QStringLiteral("until")} + Rows.Doors);
    for (const TSiteRow& Row : Rows.Rows)
        Text += CsvLine(QStringList{Row.Card, Row.Name, Row.Master, Row.From, Row.Until} + Row.Cells);
    return Text;
}
