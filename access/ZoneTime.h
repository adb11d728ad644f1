#pragma once

#include <QDate>
#include <QDateTime>
#include <QTimeZone>

#include <limits>

// Instants are milliseconds since 1970-01-01T00:00Z; the rules compare and sort them as numbers.
// A day and a time of day become an instant only here, through the site's zone, so daylight
// saving is the system's tz database's business and nobody else's.
using TInstant = qint64;
constexpr TInstant NeverBefore = std::numeric_limits<TInstant>::min();
constexpr TInstant NeverAfter = std::numeric_limits<TInstant>::max();
constexpr qint64 MsPerMinute = 60 * 1000;
constexpr qint64 MsPerDay = 24 * 60 * MsPerMinute;

// The first instant at which a clock in Zone shows Minute minutes past the start of Day (1440
// and more run into the following days). A time the clock skips (02:30 on the night the clocks
// go forward) comes when the clock jumps past it; a time the clock shows twice (when they go
// back) comes at its first showing.
TInstant FirstShowing(const QTimeZone& Zone, QDate Day, int Minute);

// The day a clock in Zone shows at At.
QDate DayAt(const QTimeZone& Zone, TInstant At);

// Time as an instant, whatever zone it is given in.
TInstant InstantOf(const QDateTime& Time);
// At as Zone's clock shows it.
QDateTime LocalTimeOf(const QTimeZone& Zone, TInstant At);
