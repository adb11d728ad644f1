#pragma once

#include "log/SwipeRecord.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <cstdint>
#include <optional>

// Which swipes to list. Every condition given must hold; rows come newest first.
struct TLogQuery
{
    std::optional<QDateTime> Since{}; // from this moment on
    std::optional<QDateTime> Until{}; // before this moment
    QString Door{};                   // exactly this door
    QString Card{};                   // a card number text or value (CardValueFromText)
    QString NameText{};               // in the name, in any case
    int Limit = 100;                  // 0: no limit
};

// Where a page of rows ended; the next page starts after it.
struct TSwipeKey
{
    qint64 TimeMs = 0;
    qint64 Id = 0;
};

TSwipeKey SwipeKey(const TSwipeRecord& Swipe);

// A card as a person gives it: its card number text ("0001234567 018,54919"), its value in
// decimal or 0x hex, or the two numbers after the value ("018,54919"). Empty when none.
std::optional<uint32_t> CardValueFromText(const QString& Text);

// The SELECT for a query and the values bound to its ? in order. The columns are id, time (ms
// since 1970, UTC), door, bytes, card number, name, known, door id, reason: SwipeAt reads them. A view of the
// whole log pages with Limit and After (the last row it has) rather than one open cursor: each
// page then reads only its own rows, whatever the conditions.
struct TLogStatement
{
    QString Sql;
    QVariantList Values;
};

TLogStatement LogStatement(const TLogQuery& Query, const std::optional<TSwipeKey>& After = std::nullopt);

// Runs LogStatement on Db, as a forward-only query. Raises ESql.
QSqlQuery SelectSwipes(const QSqlDatabase& Db, const TLogQuery& Query,
                       const std::optional<TSwipeKey>& After = std::nullopt);

// "SELECT" and the columns SwipeAt reads, from Swipes s joined with Names n.
QString SwipeColumns();

// The row Row is on.
TSwipeRecord SwipeAt(const QSqlQuery& Row);
