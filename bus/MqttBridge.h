#pragma once

#include "bus/MqttSettings.h"

#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>

class TAgent;
class TDoor;
class TMqttClient;
class TSwipeOutbox;
struct TSwipeRecord;

// The agent on a message bus: every door's swipes, reader status, door settings and card list
// published under PREFIX/DOOR/, the agent's own status under PREFIX/agent/status, Home Assistant
// discovery configs, and (when [mqtt] commands is on) door settings and card lists taken from
// PREFIX/DOOR/set/... and answered on PREFIX/DOOR/result.
class TMqttBridge : public QObject
{
public:
    // Follows the agent's doors and swipes from now on; connects at once.
    TMqttBridge(TAgent& Agent, const TMqttSettings& Settings, QObject* Owner = nullptr);
    ~TMqttBridge() override;

    // A reload: new settings reconnect (after saying offline under the old ones); none stop the
    // bus; the same change nothing.
    void Apply(const std::optional<TMqttSettings>& Settings);
    // Every door and the agent said offline, then a clean disconnect; Done runs once.
    void Stop(std::function<void()> Done);
    bool Connected() const;

    // What the bridge has to say, with a journal priority; the agent's log when empty.
    std::function<void(int Priority, const QString& Text)> OnSay;

private:
    struct TDoorState
    {
        bool DoorKnown = false;
        bool CardsKnown = false;
    };

    void Start();
    void ClientConnected();
    void Follow(TDoor& Door);
    void DoorRemoved(const QString& Id);
    void PublishStatus(TDoor& Door);
    void PublishDoorSettings(TDoor& Door);
    void PublishCards(TDoor& Door);
    void PublishNext(TDoor& Door);
    void PublishOffline();
    void Publish(const QString& Topic, const QByteArray& Payload, bool Retain);
    void Retain(const QString& Topic, const QByteArray& Payload);
    void ClearUnwanted();
    void SaveRetained();
    void Message(const QString& Topic, const QByteArray& Payload, bool Retained);
    void Command(TDoor& Door, const QString& Verb, const QByteArray& Payload);
    QString Topic(const QString& DoorId, const QString& Leaf) const;
    QString SwipeTopic(const TSwipeRecord& Swipe) const;
    TDoor* DoorById(const QString& Id) const;
    void Say(int Priority, const QString& Text) const;

    TAgent& FAgent;
    TMqttSettings FSettings;
    bool FRunning = false;
    bool FIgnoredSaid = false;
    std::set<QString> FRetainedSaid;   // command topics whose retained command was answered once
    // Every retained topic published and not cleared since, across restarts (a file in the state
    // folder): what is no longer wanted is cleared at the next connect.
    QString FRetainedFile;
    std::set<QString> FRetained;
    bool FRetainedChanged = false;
    std::set<QString> FWanted;         // the discovery configs published since this connect
    std::map<QString, TDoorState> FDoors;
    std::map<QString, QString> FDoorIdsByName; // every door held since start: a swipe's row names its door by name
    std::unique_ptr<TMqttClient> FClient;
    std::unique_ptr<TSwipeOutbox> FOutbox;
};
