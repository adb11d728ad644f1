#pragma once

#include "agent/AgentConfig.h"
#include "log/SwipeRecord.h"

class TRfidTag;

#include <QObject>
#include <QTimer>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class TAccessLog;
class TClock;
class TDoor;
class TTimeKeeper;
class TSerialDeviceWatch;

// The doors of the configuration, held all the time: started, replaced on a reload where their
// section changed, and stopped cleanly. Reload and Stop are called from the top of the event
// loop (never from a door's handler): a door is stopped as SIGTERM stops it, a running write
// ending first, and destroyed only once it has stopped, from the loop.
class TAgent : public QObject
{
    Q_OBJECT

public:
    // StateDirectory: where the log (unless [log] path) and the front ends' state are kept;
    // AgentStateDirectory() when empty.
    TAgent(const QString& ConfigFile, const QString& RuntimeDirectory, const QString& StateDirectory = {},
           QObject* Owner = nullptr);
    ~TAgent() override;

    // The clock the doors' time rules go by: the system's unless one is given before Start (a
    // test's). Clock outlives the agent.
    void SetClock(TClock& Clock) { FClock = &Clock; }
    // Reads the configuration and starts every door; raises Exception for a bad file or a
    // runtime folder that is not the agent's own.
    void Start();
    // SIGHUP: a bad file is said and changes nothing; doors whose section is unchanged stay, the
    // others are stopped and then replaced. Ignored once stopping.
    void Reload();
    // SIGTERM: every door ends its write first; Done runs from the loop once all have stopped.
    void Stop(std::function<void()> Done);
    bool Stopping() const { return FStopping; }

    const TAgentConfig& Config() const { return FConfig; }
    // The access log every door's swipes go to (the state folder's access.db unless [log] path).
    QString LogPath() const;
    const QString& StateDirectory() const { return FStateDirectory; }

    // For the message bus: the log it sends swipes from, and the doors held now (stopping ones
    // included, until they are gone).
    TAccessLog* Log() const { return FLog.get(); }
    std::vector<TDoor*> Doors() const;
    // The time rules of the doors whose cards come from a site file.
    TTimeKeeper& Time() const { return *FTime; }

    // A front end checks its own sections of a file read at start or reload; what it raises
    // refuses the file as a bad door section would.
    std::function<void(const TAgentConfig& Config)> OnCheckConfig;
    // What the agent's time rules have to say, with a journal priority; the journal when empty.
    std::function<void(int Priority, const QString& Text)> OnSay;

signals:
    // A swipe once it is in the log, with its row's id; or, with Id 0, one the log cannot take
    // yet (it comes again with its id once written). Swipe.DoorId names the door.
    void Swiped(const TSwipeRecord& Swipe);
    // A door was made, before it starts: its followers connect to it now.
    void DoorAdded(TDoor* Door);
    // A door has stopped and is about to be destroyed; a door of that id may follow (a changed
    // section), in which case Config() names it already.
    void DoorRemoved(const QString& Id);

private:
    TAgentConfig ReadConfig() const;
    void Apply(TAgentConfig Config);
    void StopDoor(TDoor& Door);
    void DoorStopped(const QString& Id);
    void StartWanted();
    void PublishDoors();
    void Record(TDoor& Door, const TRfidTag& Card, bool Known, const QString& Name);
    void Prune();
    void FollowLog();

    QString FConfigFile;
    QString FRuntimeDirectory;
    QString FStateDirectory;
    TAgentConfig FConfig;
    std::map<QString, std::unique_ptr<TDoor>> FDoors;
    std::unique_ptr<TSerialDeviceWatch> FDevices;
    std::unique_ptr<TAccessLog> FLog;
    std::unique_ptr<TClock> FOwnClock;
    TClock* FClock = nullptr;
    std::unique_ptr<TTimeKeeper> FTime;
    QString FLogProblem; // said once, until it changes
    QTimer FPruneTimer;
    bool FStopping = false;
    std::function<void()> FStopped;
};
