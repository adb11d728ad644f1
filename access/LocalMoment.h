#pragma once

#include <QDate>
#include <QString>
#include <QTime>

#include <optional>

// A day, or a day and a time of day, as the site's clock shows it: a site list's from and until.
struct TLocalMoment
{
    QDate Date;
    QTime Time; // invalid: the day as a whole

    bool HasTime() const { return Time.isValid(); }

    // "2026-12-31" or "2026-12-31 18:00": the form messages and the journal use.
    QString Text() const;

    bool operator==(const TLocalMoment&) const = default;
};

// Reads "2026-12-31", "2026-12-31 18:00" or "2026-12-31T18:00". Empty for anything else,
// including a day that is not in the calendar (2027-02-29).
std::optional<TLocalMoment> LocalMomentFromText(const QString& Text);
