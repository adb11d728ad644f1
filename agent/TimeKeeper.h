#pragma once

#include "access/AccessRules.h"
#include "access/BoundaryAlarm.h"
#include "access/Clock.h"
#include "agent/AgentConfig.h"

#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class TDoor;
class TRfidTag;
class TSiteRules;

// A door's next list change, as the rules see it now.
struct TNextChange
{
    QDateTime At; // UTC
    QStringList Added;   // names (or card numbers) that come on
    QStringList Removed; // and go off
    QString Text;        // "2026-12-15 18:00: +Dana (cleaners), -Evan (until 2026-12-15 18:30)", on the site's clock
};

// The readers have no clock, so the agent keeps time for them: every door whose cards come from a
// site file is given the list its rules admit now (its reader is written when it holds another),
// and again at each boundary, when the file changes, and when the wall clock is set. One alarm
// waits for the next boundary of any door; nothing wakes in between. While the system says its
// clock is not synchronized, no list is changed on its word (unless [site] trust-clock): the
// readers keep what they hold until it is.
class TTimeKeeper : public QObject
{
    Q_OBJECT

public:
    // Doors: the doors held now. Clock outlives the keeper.
    TTimeKeeper(TClock& Clock, std::function<std::vector<TDoor*>()> Doors, QObject* Owner = nullptr);
    ~TTimeKeeper() override;

    // The configuration, at start and at every reload: the site files followed and their rules
    // made for the doors that use them; every door is given its list.
    void Apply(const TAgentConfig& Config);
    // A door was made (or made again): it gets its names and its list.
    void Give(TDoor& Door);

    // Why the rules do not admit Card at Door now: for a card the reader did not hold ("expired
    // 2026-11-30"), or one it held that the rules would not admit now (its list not yet written:
    // "held by the reader, but expired 2026-11-30"). Empty when they admit it or the door has no
    // site file.
    QString Why(const QString& DoorId, const TRfidTag& Card, bool Held) const;
    // The door's next change; none when its list never changes again or it has no rules.
    std::optional<TNextChange> Next(const QString& DoorId) const;

    // What it has to say, with a journal priority; the agent's log when empty.
    std::function<void(int Priority, const QString& Text)> OnSay;

signals:
    // The next changes were worked out again (after a boundary, a new file, a reload).
    void NextChanged();

private:
    struct TGiven
    {
        const TSiteRules* Site = nullptr;
        int Generation = 0;
        TDoorList List;
    };

    const TAccessRules* RulesOf(const QString& DoorId) const;
    const TSiteRules* SiteOf(const QString& DoorId) const;
    bool ClockTrusted();
    void Due(bool ClockSet);
    void GiveAll();
    void GiveTo(TDoor& Door);
    void Name(TDoor& Door) const;
    void Say(int Priority, const QString& Text) const;
    void Arm();

    TClock& FClock;
    std::function<std::vector<TDoor*>()> FDoors;
    TAgentConfig FConfig;
    TBoundaryAlarm FAlarm;
    std::map<QString, std::unique_ptr<TSiteRules>> FSites; // by file
    std::map<QString, TGiven> FGiven;                      // by door id
    QTimer FSyncCheck;                                     // runs only while the clock is not trusted
    bool FHoldSaid = false;
};
