#include "log/ChangeRecord.h"

QJsonObject ChangeJson(const TChangeRecord& Change)
{
    return QJsonObject{
        {QStringLiteral("id"), Change.Id},
        {QStringLiteral("time"), Change.Time.toUTC().toString(Qt::ISODateWithMs)},
        {QStringLiteral("user"), Change.User},
        {QStringLiteral("address"), Change.Address},
        {QStringLiteral("what"), Change.What},
    };
}

TChangeRecord ChangeFromJson(const QJsonObject& Object)
{
    TChangeRecord Change;
    Change.Time = QDateTime::fromString(Object[QStringLiteral("time")].toString(), Qt::ISODateWithMs).toUTC();
    Change.User = Object[QStringLiteral("user")].toString();
    Change.Address = Object[QStringLiteral("address")].toString();
    Change.What = Object[QStringLiteral("what")].toString();
    return Change;
}
