#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

// A change a person made through the agent (on its page): who, from where, when and what.
struct TChangeRecord
{
    qint64 Id = 0; // given by the log when the row is written
    QDateTime Time; // UTC, to the millisecond
    QString User;
    QString Address;
    QString What; // "door front-door: mode momentary, delay 5 s"
};

// As every program prints it: id, time (UTC, ISO 8601 with milliseconds), user, address, what.
QJsonObject ChangeJson(const TChangeRecord& Change);
TChangeRecord ChangeFromJson(const QJsonObject& Object);
