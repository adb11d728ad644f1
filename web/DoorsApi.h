#pragma once

#include "web/ChangeJournal.h"
#include "web/WebAuth.h"
#include "web/WebExchange.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>

class TAgent;
class TDoor;

// The Doors page's data: every door held, online or not, with its mode, delay and card count as
// the reader last told them; and an admin's change of mode and delay, written to the reader and
// read back before it is answered.
class TDoorsApi
{
public:
    // Follows the agent's doors, and their next changes, from now on.
    TDoorsApi(TAgent& Agent, std::function<void(const TWebChange&)> Record);

    // {"doors": [...], "modes": [...], "delay": {"min", "max"}}
    QJsonObject List() const;
    // POST {"mode", "delay"} (either may be left out) for door Id.
    void Change(const TWebCaller& Caller, const QString& Id, const TWebRequest& Request, TWebReply Reply);

    void Follow(TDoor& Door);
    void Removed(const QString& Id);

    // A door's state changed: its JSON, for the pages open now.
    std::function<void(const QJsonObject& Door)> OnDoor;

private:
    struct TFollowed
    {
        bool SettingsKnown = false;
        bool CardsKnown = false;
    };

    QJsonObject DoorJson(TDoor& Door) const;
    TDoor* DoorById(const QString& Id) const;
    void Changed(TDoor& Door);

    TAgent& FAgent;
    std::function<void(const TWebChange&)> FRecord;
    std::map<QString, TFollowed> FFollowed;
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true); // for answers that come after this is gone
    QObject FConnections; // what it follows is connected through this, and let go with it
};
