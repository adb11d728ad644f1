#include "log/SwipeCsv.h"

#include "common/CsvLine.h"
#include "log/SwipeJson.h"

QString SwipeCsvHeader()
{
    return CsvLine({QStringLiteral("id"), QStringLiteral("time"), QStringLiteral("door"), QStringLiteral("card number"),
                    QStringLiteral("value"), QStringLiteral("bytes"), QStringLiteral("name"), QStringLiteral("known"),
                    QStringLiteral("reason")});
}

QString SwipeCsvLine(const TSwipeRecord& Swipe)
{
    return CsvLine({QString::number(Swipe.Id), SwipeTimeText(Swipe), Swipe.Door, Swipe.CardNumber,
                    QString::number(SwipeCardValue(Swipe)), SwipeBytesText(Swipe), Swipe.Name,
                    Swipe.Known ? QStringLiteral("yes") : QStringLiteral("no"), Swipe.Reason});
}
