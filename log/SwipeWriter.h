#pragma once

#include "log/SwipeRecord.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

// Adds swipes to the log inside the caller's transaction. One writer per transaction: the name
// ids it remembers are only sure while the transaction holds the lock.
class TSwipeWriter
{
public:
    explicit TSwipeWriter(const QSqlDatabase& Db); // raises ESql

    // Writes the row and fills Swipe.Id. Raises ESql.
    void Write(TSwipeRecord& Swipe);

private:
    qint64 NameId(const QString& Name);

    QSqlQuery FAddName;
    QSqlQuery FAddSwipe;
    QHash<QString, qint64> FNameIds;
};
