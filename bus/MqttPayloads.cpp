#include "bus/MqttPayloads.h"

#include "agent/TimeKeeper.h"

#include "cards/CardJson.h"
#include "log/SwipeJson.h"
#include "reader/Dorvik.h"
#include "reader/DoorModeName.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QByteArray Compact(const QJsonObject& Object) { return QJsonDocument(Object).toJson(QJsonDocument::Compact); }

} // namespace

QByteArray SwipePayload(const TSwipeRecord& Swipe) { return Compact(SwipeJson(Swipe)); }

QByteArray DoorSettingsPayload(const TDorvik& Reader)
{
    const bool Named = DoorModeNamed(DoorModeName(Reader.DoorMode())).has_value();
    return Compact({{QStringLiteral("mode"), Named ? QJsonValue(DoorModeName(Reader.DoorMode())) : QJsonValue()},
                    {QStringLiteral("delay"), int(Reader.DoorDelay())}});
}

QByteArray CardsSummaryPayload(const TRfidTags& Tags, uint32_t Master)
{
    QCryptographicHash Hash(QCryptographicHash::Sha256);
    for (int I = 0; I < Tags.Count(); ++I)
        Hash.addData(QByteArrayView(reinterpret_cast<const char*>(Tags.Items(I).Bytes.data()), 5));
    const char MasterByte = char(Master & 0xFF);
    Hash.addData(QByteArrayView(&MasterByte, 1));
    const bool HasMaster = Master < uint32_t(Tags.Count());
    return Compact({{QStringLiteral("count"), Tags.Count()},
                    {QStringLiteral("master"), HasMaster ? QJsonValue(Tags.Items(int(Master)).CardNumber()) : QJsonValue()},
                    {QStringLiteral("sha256"), QString::fromLatin1(Hash.result().toHex())}});
}

QByteArray CardListPayload(const QJsonValue& RequestId, const TRfidTags& Tags, uint32_t Master)
{
    return Compact({{QStringLiteral("id"), RequestId},
                    {QStringLiteral("cards"), CardsJson(Tags, Master)},
                    {QStringLiteral("master"), Master < uint32_t(Tags.Count()) ? QJsonValue(int(Master) + 1) : QJsonValue()}});
}

QByteArray ResultPayload(const QJsonValue& RequestId, bool Ok, const QString& Message)
{
    return Compact({{QStringLiteral("id"), RequestId}, {QStringLiteral("ok"), Ok}, {QStringLiteral("message"), Message}});
}

QByteArray NextChangePayload(const std::optional<TNextChange>& Next)
{
    if (!Next)
        return QJsonDocument(QJsonObject{{QStringLiteral("time"), QJsonValue::Null}}).toJson(QJsonDocument::Compact);
    return QJsonDocument(QJsonObject{{QStringLiteral("time"), Next->At.toUTC().toString(Qt::ISODateWithMs)},
                                     {QStringLiteral("added"), QJsonArray::fromStringList(Next->Added)},
                                     {QStringLiteral("removed"), QJsonArray::fromStringList(Next->Removed)},
                                     {QStringLiteral("text"), Next->Text}})
        .toJson(QJsonDocument::Compact);
}
