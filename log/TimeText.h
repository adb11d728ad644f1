#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// A moment as a person types it to pick swipes: ISO 8601 ("2024-05-01", "2024-05-01T08:30",
// local time unless it names its zone as "Z" or "+02:00"), an age before Now ("45s", "30m",
// "2h", "7d", "2w"), or "today" (local midnight). Empty when the text is none of these.
std::optional<QDateTime> TimeFromText(const QString& Text, const QDateTime& Now);
