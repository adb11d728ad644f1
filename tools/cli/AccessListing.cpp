#include "tools/cli/AccessListing.h"

#include "tools/cli/TextTable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString LocalText(const TAccessRules& Rules, const QDateTime& At)
{
    return At.toTimeZone(Rules.Setup().Zone).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QJsonValue JsonTime(const TAccessRules& Rules, const std::optional<QDateTime>& At)
{
    return At ? QJsonValue(At->toTimeZone(Rules.Setup().Zone).toString(Qt::ISODate)) : QJsonValue(QJsonValue::Null);
}

const TAccessDoor& DoorOf(const TAccessRules& Rules, const QString& Id) { return Rules.Doors()[size_t(Rules.DoorIndex(Id))]; }

QJsonObject CardJson(const TAccessRules& Rules, int Card)
{
    const TRfidTag& Tag = Rules.Site().Cards[size_t(Card)].Tag;
    return {{"cardNumber", Tag.CardNumber()}, {"value", qint64(Tag.CardValue())}, {"name", Rules.CardName(Card)}};
}

QString JsonText(const QJsonArray& Array) { return QString::fromUtf8(QJsonDocument(Array).toJson(QJsonDocument::Indented)); }

// "Dana (cleaners), Fred (from 2027-01-05)"
QString WhoAndWhy(const TAccessRules& Rules, const TListChange& Change, const std::vector<int>& Cards, bool Added)
{
    QStringList Parts;
    for (const int C : Cards)
        Parts.append(QStringLiteral("%1 (%2)").arg(Rules.CardName(C), Rules.ChangeWhy(Change.Door, C, Added, Change.At)));
    return Parts.join(QStringLiteral(", "));
}

QJsonArray CardsWhyJson(const TAccessRules& Rules, const TListChange& Change, const std::vector<int>& Cards, bool Added)
{
    QJsonArray Array;
    for (const int C : Cards) {
        QJsonObject Card = CardJson(Rules, C);
        Card.insert("why", Rules.ChangeWhy(Change.Door, C, Added, Change.At));
        Array.append(Card);
    }
    return Array;
}

} // namespace

QString DoorListsListing(const TAccessRules& Rules, const QStringList& Doors, const QDateTime& At, bool Json)
{
    std::vector<QStringList> Rows{{QStringLiteral("Door"), QStringLiteral("Card number"), QStringLiteral("Name"), QStringLiteral("Rule")}};
    QJsonArray Array;
    for (const QString& Id : Doors) {
        const TDoorList List = Rules.ListAt(Id, At);
        QJsonArray Cards;
        for (const int C : List.Cards) {
            const QString Rule = Rules.RuleText(Id, C);
            Rows.push_back({DoorOf(Rules, Id).Name, Rules.Site().Cards[size_t(C)].Tag.CardNumber(), Rules.CardName(C), Rule});
            QJsonObject Card = CardJson(Rules, C);
            Card.insert("master", C == Rules.Site().Master);
            Card.insert("rule", Rule);
            Cards.append(Card);
        }
        Array.append(QJsonObject{{"door", Id},
                                 {"doorName", DoorOf(Rules, Id).Name},
                                 {"time", JsonTime(Rules, At)},
                                 {"next", JsonTime(Rules, Rules.NextBoundary(Id, At))},
                                 {"cards", Cards}});
    }
    return Json ? JsonText(Array) : TextTable(Rows);
}

QString ChangesListing(const TAccessRules& Rules, const std::vector<TListChange>& Changes, bool Json)
{
    std::vector<QStringList> Rows{{QStringLiteral("Time (%1)").arg(QString::fromUtf8(Rules.Setup().Zone.id())), QStringLiteral("Door"),
                                   QStringLiteral("Added"), QStringLiteral("Removed")}};
    QJsonArray Array;
    for (const TListChange& Change : Changes) {
        Rows.push_back({LocalText(Rules, Change.At), DoorOf(Rules, Change.Door).Name, WhoAndWhy(Rules, Change, Change.Added, true),
                        WhoAndWhy(Rules, Change, Change.Removed, false)});
        Array.append(QJsonObject{{"time", JsonTime(Rules, Change.At)},
                                 {"door", Change.Door},
                                 {"doorName", DoorOf(Rules, Change.Door).Name},
                                 {"added", CardsWhyJson(Rules, Change, Change.Added, true)},
                                 {"removed", CardsWhyJson(Rules, Change, Change.Removed, false)}});
    }
    return Json ? JsonText(Array) : TextTable(Rows);
}
