#pragma once

#include "access/OpenTimes.h"
#include "access/Schedule.h"
#include "access/SiteList.h"
#include "cards/CardDatabaseFile.h"

#include <QDateTime>
#include <QHash>
#include <QMap>
#include <QTimeZone>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Who may enter, and when: each door's list at any instant, and the instants it changes. A card
// is on a door's list while its from and until and its cell for the door admit the instant; the
// master card always. Instants are compared as the site's clock shows them (see ZoneTime.h).

struct TAccessDoor
{
    QString Id;
    QString Name;
};

// What the configuration says about a site list.
struct TAccessSetup
{
    QTimeZone Zone = QTimeZone::systemTimeZone();
    QMap<QString, TSchedule> Schedules;
    // The doors whose cards come from the site list. Empty: the list's door columns, or for a list
    // without any, one door "*" that stands for every door.
    std::vector<TAccessDoor> Doors;
    bool SchedulesKnown = true; // false: no configuration was read, so no cell can name a schedule
};

// A door's list: indexes into the site list's cards, in the file's order, the master among them.
struct TDoorList
{
    std::vector<int> Cards;

    bool operator==(const TDoorList&) const = default;
};

// A door's list changing at a boundary.
struct TListChange
{
    QDateTime At; // in UTC
    QString Door; // its id
    std::vector<int> Added;   // indexes into the site list's cards, in the file's order
    std::vector<int> Removed;
};

class TAccessRules
{
public:
    // Rules for Site under Setup. A cell that names a schedule Setup does not have admits no one
    // (CheckSite names it).
    TAccessRules(TSiteList Site, TAccessSetup Setup);
    ~TAccessRules();
    TAccessRules(const TAccessRules&) = delete;
    TAccessRules& operator=(const TAccessRules&) = delete;

    // The site list, the setup and the doors the rules were made for (Doors() filled in when the
    // setup named none).
    const TSiteList& Site() const { return FSite; }
    const TAccessSetup& Setup() const { return FSetup; }
    const std::vector<TAccessDoor>& Doors() const { return FSetup.Doors; }
    // Door's index in Doors(); raises Exception for a door that is not there.
    int DoorIndex(const QString& Door) const;

    // The cards Door admits at At: the master, and those whose dates and cell admit At.
    TDoorList ListAt(const QString& Door, const QDateTime& At) const;
    // The first instant after After at which Door's list differs from its list at After; none
    // when it never changes again.
    std::optional<QDateTime> NextBoundary(const QString& Door, const QDateTime& After) const;
    // The first such instant of any door.
    std::optional<QDateTime> NextBoundary(const QDateTime& After) const;
    // List as the reader takes it: the cards in order, and the master's index among them.
    TLoadedCardDatabase ReaderList(const TDoorList& List) const;

    // Why Door does not admit the card of CardValue at At: "expired 2026-11-30", "not yet valid
    // (from 2027-01-05)", "outside hours (cleaners)", "not for this door", "not on the site list"
    // (a bound with a time reads "expired 2026-11-30 18:00"). Empty when it admits it.
    QString Refusal(const QString& Door, uint32_t CardValue, const QDateTime& At) const;

    // Why Card came on (Added) or went off Door's list at At: "cleaners" (its schedule opened or
    // closed), "from 2027-01-05", "until 2026-12-31", "master"; when no rule of its own changed
    // then (the list was new, or the clock jumped), what makes the difference ("not yet valid
    // (from 2027-01-05)", "not for this door", "site list").
    QString ChangeWhy(const QString& Door, int Card, bool Added, const QDateTime& At) const;
    // The journal's line for Door going from Before to After at At, both lists of these rules:
    // "Front door: 18:00: +Dana (cleaners), -Evan (until 2026-12-31)" (the time as the site's
    // clock shows it). Empty when the lists hold the same cards.
    QString ChangeText(const QString& Door, const TDoorList& Before, const TDoorList& After, const QDateTime& At) const;
    // Its cards alone: "+Dana (cleaners), -Evan (until 2026-12-31)".
    QString ChangeParts(const QString& Door, const TDoorList& Before, const TDoorList& After, const QDateTime& At) const;
    // At as the site's clock shows it: "2026-12-15 18:00".
    QString LocalText(const QDateTime& At) const;

    // Every change of Door's list after From and before To, in order.
    void ForEachChange(const QString& Door, const QDateTime& From, const QDateTime& To,
                       const std::function<void(const TListChange&)>& Sink) const;
    // Every change of every door's list after From and before To, by time, then in the doors' order.
    std::vector<TListChange> Changes(const QDateTime& From, const QDateTime& To) const;

    // How Card's row admits it at Door: "master", "yes", "no", "cleaners", with ", from ..." and
    // ", until ..." when it has them.
    QString RuleText(const QString& Door, int Card) const;
    // Card's name, or its card number when it has none.
    QString CardName(int Card) const;

private:
    struct TRule
    {
        enum TKind : uint8_t { Never, Always, Dated, Scheduled };
        TKind Kind = Never;
        int Schedule = -1; // index into FOpen when Scheduled
    };

    void MakeRules();
    bool Admits(int Door, int Card, TInstant At) const;
    std::optional<TInstant> NextChange(int Door, int Card, TInstant After) const;
    void Sweep(int Door, TInstant From, TInstant To, const std::function<void(const TListChange&)>& Sink) const;

    TSiteList FSite;
    TAccessSetup FSetup;
    std::vector<TInstant> FFrom;  // per card; NeverBefore when it has none
    std::vector<TInstant> FUntil; // per card; NeverAfter when it has none
    std::vector<std::vector<TRule>> FRules; // per door, per card
    std::vector<QString> FScheduleNames;
    mutable std::vector<std::unique_ptr<TOpenTimes>> FOpen;
    QHash<uint32_t, int> FCardOfValue;
};
