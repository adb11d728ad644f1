#pragma once

#include "agent/AgentConfig.h"

class TRfidTag;

#include <QObject>
#include <QTimer>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class TAccessLog;
class TDoor;
class TUSBPnP;
struct TSwipeRecord;

// The doors of the configuration, held all the time: started, replaced on a reload where their
// section changed, and stopped cleanly.
class TAgent : public QObject
{
public:
    TAgent(const QString& ConfigFile, const QString& RuntimeDirectory, QObject* Owner = nullptr);
    ~TAgent() override;

    // Reads the configuration and starts every door; raises Exception for a bad file.
    void Start();
    // SIGHUP: a bad file is said and changes nothing; doors whose section is unchanged stay.
    void Reload();
    // SIGTERM: every door ends its transfer first; Done runs once all have stopped.
    void Stop(std::function<void()> Done);

    const TAgentConfig& Config() const { return FConfig; }
    // The access log every door's swipes go to (the state folder's access.db unless [log] path).
    QString LogPath() const;

    // For the message bus: the log it sends swipes from, and the doors held now.
    TAccessLog* Log() const { return FLog.get(); }
    std::vector<TDoor*> Doors() const;

    // A swipe, after it is in the log (or kept in memory while the log cannot take it).
    std::function<void(TDoor& Door, const TSwipeRecord& Swipe)> OnSwipe;
    // A front end checks its own sections of a file read at start or reload; what it raises
    // refuses the file as a bad door section would.
    std::function<void(const TAgentConfig& Config)> OnCheckConfig;
    // Called for every door made, so the owner can follow it (the log, the message bus).
    std::function<void(TDoor& Door)> OnDoorAdded;
    std::function<void(const QString& Id)> OnDoorRemoved;

private:
    TAgentConfig ReadConfig() const;
    void Apply(const TAgentConfig& Config);
    void PublishDoors();
    void Record(TDoor& Door, const TRfidTag& Card, bool Known, const QString& Name);
    void Prune();

    QString FConfigFile;
    QString FRuntimeDirectory;
    TAgentConfig FConfig;
    std::map<QString, std::unique_ptr<TDoor>> FDoors;
    std::unique_ptr<TUSBPnP> FDevices;
    std::unique_ptr<TAccessLog> FLog;
    QString FLogProblem; // said once, until it changes
    QTimer FPruneTimer;
};
