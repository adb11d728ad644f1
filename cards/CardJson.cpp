#include "cards/CardJson.h"

#include "cards/NameText.h"
#include "common/Errors.h"

#include <QJsonObject>
#include <QRegularExpression>

#include <optional>

namespace {

[[noreturn]] void Bad(int Index, const QString& Why)
{
    throw Exception(QStringLiteral("card %1: %2").arg(Index + 1).arg(Why).toStdString());
}

// "0001234567 018,54919" or its first number alone.
std::optional<uint32_t> ValueOfNumberText(const QString& Text)
{
    static const QRegularExpression Number(QStringLiteral("^\\s*(\\d{1,10})(\\s+\\d{1,5},\\d{1,5})?\\s*$"));
    const QRegularExpressionMatch M = Number.match(Text);
    bool Ok = false;
    const qulonglong Value = M.hasMatch() ? M.captured(1).toULongLong(&Ok) : 0;
    if (!Ok || Value > 0xFFFFFFFFull)
        return std::nullopt;
    TRfidTag Card;
    Card.Bytes = {0, uint8_t(Value >> 24), uint8_t(Value >> 16), uint8_t(Value >> 8), uint8_t(Value)};
    if (M.captured(2).isEmpty() || Card.CardNumber().simplified() == Text.simplified())
        return uint32_t(Value);
    return std::nullopt;
}

TRfidTag CardFromJson(int Index, const QJsonValue& Item)
{
    if (!Item.isObject())
        Bad(Index, QStringLiteral("is not an object"));
    const QJsonObject O = Item.toObject();
    TRfidTag Card;
    std::optional<uint32_t> Value;
    auto Agree = [&](uint32_t Given, const char* Field) {
        if (Value && *Value != Given)
            Bad(Index, QStringLiteral("%1 names another card than the fields before it").arg(QLatin1String(Field)));
        Value = Given;
    };
    if (O.contains(u"bytes")) {
        const QByteArray Hex = O.value(u"bytes").toString().toLatin1();
        static const QRegularExpression Ten(QStringLiteral("^[0-9A-Fa-f]{10}$"));
        if (!Ten.match(QString::fromLatin1(Hex)).hasMatch())
            Bad(Index, QStringLiteral("bytes takes ten hex digits, byte 0 first"));
        const QByteArray Raw = QByteArray::fromHex(Hex);
        for (int I = 0; I < 5; ++I)
            Card.Bytes[size_t(I)] = uint8_t(Raw[I]);
        Value = Card.CardValue();
    }
    if (O.contains(u"value")) {
        const double Given = O.value(u"value").toDouble(-1);
        if (!O.value(u"value").isDouble() || Given < 0 || Given > 4294967295.0 || Given != double(qint64(Given)))
            Bad(Index, QStringLiteral("value takes a whole number from 0 to 4294967295"));
        Agree(uint32_t(qint64(Given)), "value");
    }
    if (O.contains(u"cardNumber")) {
        const std::optional<uint32_t> Given = ValueOfNumberText(O.value(u"cardNumber").toString());
        if (!Given)
            Bad(Index, QStringLiteral("cardNumber '%1' is not a card number").arg(O.value(u"cardNumber").toString()));
        Agree(*Given, "cardNumber");
    }
    if (!Value)
        Bad(Index, QStringLiteral("gives no value, cardNumber or bytes"));
    if (!O.contains(u"bytes"))
        Card.Bytes = {0, uint8_t(*Value >> 24), uint8_t(*Value >> 16), uint8_t(*Value >> 8), uint8_t(*Value)};
    if (O.contains(u"name") && !O.value(u"name").isString())
        Bad(Index, QStringLiteral("name is not text"));
    Card.Name = TextToName(O.value(u"name").toString());
    return Card;
}

} // namespace

QJsonArray CardsJson(const TRfidTags& Tags, uint32_t Master)
{
    QJsonArray Cards;
    for (int I = 0; I < Tags.Count(); ++I) {
        const TRfidTag& Tag = Tags.Items(I);
        Cards.append(QJsonObject{
            {QStringLiteral("id"), I + 1},
            {QStringLiteral("cardNumber"), Tag.CardNumber()},
            {QStringLiteral("value"), qint64(Tag.CardValue())},
            {QStringLiteral("name"), NameToText(Tag.Name)},
            {QStringLiteral("master"), uint32_t(I) == Master},
        });
    }
    return Cards;
}

TJsonCards CardsFromJson(const QJsonArray& Cards)
{
    TJsonCards Result;
    for (int I = 0; I < Cards.size(); ++I) {
        const TRfidTag Card = CardFromJson(I, Cards[I]);
        if (const int Before = Result.Tags.IndexOf(Card); Before >= 0)
            Bad(I, QStringLiteral("is card %1 again").arg(Before + 1));
        Result.Tags.Add() = Card;
        const QJsonValue Master = Cards[I].toObject().value(u"master");
        if (!Master.isUndefined() && !Master.isBool())
            Bad(I, QStringLiteral("master takes true or false"));
        if (Master.toBool()) {
            if (Result.Master >= 0)
                Bad(I, QStringLiteral("is a second master card"));
            Result.Master = I;
        }
    }
    return Result;
}
