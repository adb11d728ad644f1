#include "log/SwipeJson.h"

#include <QByteArray>

QJsonObject SwipeJson(const TSwipeRecord& Swipe)
{
    return QJsonObject{
        {QStringLiteral("id"), Swipe.Id},
        {QStringLiteral("time"), SwipeTimeText(Swipe)},
        {QStringLiteral("door"), Swipe.Door},
        {QStringLiteral("cardNumber"), Swipe.CardNumber},
        {QStringLiteral("value"), qint64(SwipeCardValue(Swipe))},
        {QStringLiteral("bytes"), SwipeBytesText(Swipe)},
        {QStringLiteral("name"), Swipe.Name},
        {QStringLiteral("known"), Swipe.Known},
        {QStringLiteral("reason"), Swipe.Reason},
    };
}

QString SwipeTimeText(const TSwipeRecord& Swipe) { return Swipe.Time.toUTC().toString(Qt::ISODateWithMs); }

QString SwipeBytesText(const TSwipeRecord& Swipe)
{
    const QByteArray Bytes(reinterpret_cast<const char*>(Swipe.Bytes.data()), qsizetype(Swipe.Bytes.size()));
    return QString::fromLatin1(Bytes.toHex().toUpper());
}
