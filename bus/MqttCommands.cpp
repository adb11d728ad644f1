#include "bus/MqttCommands.h"

#include "cards/CardJson.h"
#include "common/Errors.h"
#include "reader/DoorModeName.h"
#include "reader/Protocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace {

[[noreturn]] void Bad(const QString& Why) { throw Exception(Why.toStdString()); }

} // namespace

QJsonObject CommandObject(const QByteArray& Payload)
{
    QJsonParseError Error{};
    const QJsonDocument Document = QJsonDocument::fromJson(Payload, &Error);
    if (Error.error != QJsonParseError::NoError)
        Bad(QStringLiteral("not JSON: %1 at offset %2").arg(Error.errorString()).arg(Error.offset));
    if (!Document.isObject())
        Bad(QStringLiteral("not a JSON object"));
    return Document.object();
}

TDoorCommand DoorCommandFrom(const QJsonObject& Command)
{
    TDoorCommand Result;
    if (Command.contains(u"mode")) {
        const QString Name = Command.value(u"mode").toString();
        Result.Mode = DoorModeNamed(Name);
        if (!Result.Mode)
            Bad(QStringLiteral("unknown door mode '%1': use lock-unlock, momentary or timed").arg(Name));
    }
    if (Command.contains(u"delay")) {
        const QJsonValue Delay = Command.value(u"delay");
        const double Value = Delay.toDouble(-1);
        if (!Delay.isDouble() || Value != double(int(Value)) || Value < protocol::MinDoorDelay || Value > protocol::MaxDoorDelay)
            Bad(QStringLiteral("delay takes a whole number of seconds from %1 to %2")
                    .arg(protocol::MinDoorDelay).arg(protocol::MaxDoorDelay));
        Result.Delay = uint8_t(Value);
    }
    if (!Result.Mode && !Result.Delay)
        Bad(QStringLiteral("give mode, delay or both"));
    return Result;
}

TCardsCommand CardsCommandFrom(const QJsonObject& Command)
{
    if (!Command.value(u"cards").isArray())
        Bad(QStringLiteral("cards is missing: give the list as dorvik-cli show --format json prints it"));
    const QJsonArray Given = Command.value(u"cards").toArray();
    if (Given.size() > protocol::CardLimit)
        Bad(QStringLiteral("%1 cards: the reader takes %2 at most").arg(Given.size()).arg(protocol::CardLimit));
    TJsonCards Read = CardsFromJson(Given);
    TCardsCommand Result;
    Result.Cards = std::move(Read.Tags);
    Result.Master = Read.Master >= 0 ? uint32_t(Read.Master) : 0;
    if (Command.contains(u"master")) {
        const QJsonValue Master = Command.value(u"master");
        const int Id = Master.toInt(-1);
        if (!Master.isDouble() || Id < 1 || Id > Result.Cards.Count())
            Bad(QStringLiteral("master takes the id of one of the cards, 1 to %1").arg(Result.Cards.Count()));
        if (Read.Master >= 0 && Read.Master != Id - 1)
            Bad(QStringLiteral("master names card %1 but card %2 is marked master").arg(Id).arg(Read.Master + 1));
        Result.Master = uint32_t(Id - 1);
    }
    return Result;
}
