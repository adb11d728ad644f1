#pragma once

#include "agent/AgentConfig.h"

#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>

class TDoor;
class TUSBPnP;

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
    // Called for every door made, so the owner can follow it (the log, the message bus).
    std::function<void(TDoor& Door)> OnDoorAdded;
    std::function<void(const QString& Id)> OnDoorRemoved;

private:
    void Apply(const TAgentConfig& Config);
    void PublishDoors();

    QString FConfigFile;
    QString FRuntimeDirectory;
    TAgentConfig FConfig;
    std::map<QString, std::unique_ptr<TDoor>> FDoors;
    std::unique_ptr<TUSBPnP> FDevices;
};
