#include "bus/MqttBridge.h"

#include "agent/Agent.h"
#include "agent/AgentLog.h"
#include "agent/Door.h"
#include "agent/TimeKeeper.h"
#include "bus/MqttClient.h"
#include "bus/MqttCommands.h"
#include "bus/MqttDiscovery.h"
#include "bus/MqttPayloads.h"
#include "bus/SwipeOutbox.h"
#include "log/SwipeRecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>

namespace {

const QString CommandVerbs[] = {QStringLiteral("set/door"), QStringLiteral("set/cards"), QStringLiteral("get/cards")};

} // namespace

TMqttBridge::TMqttBridge(TAgent& Agent, const TMqttSettings& Settings, QObject* Owner)
    : QObject(Owner), FAgent(Agent), FSettings(Settings), FClient(std::make_unique<TMqttClient>())
{
    FOutbox = std::make_unique<TSwipeOutbox>(*Agent.Log(), *FClient, [this](const TSwipeRecord& S) { return SwipeTopic(S); });
    FOutbox->OnSay = [this](int Priority, const QString& Text) { Say(Priority, Text); };
    FClient->OnSay = [this](int Priority, const QString& Text) { Say(Priority, Text); };
    FClient->OnConnected = [this] { ClientConnected(); };
    FClient->OnDisconnected = [this] { FOutbox->Disconnected(); };
    FClient->OnPublished = [this](int Mid) { FOutbox->Acknowledged(Mid); };
    FClient->OnMessage = [this](const QString& Topic, const QByteArray& Payload, bool Retained) { Message(Topic, Payload, Retained); };
    FRetainedFile = Agent.StateDirectory() + QStringLiteral("/mqtt-retained");
    QFile Kept(FRetainedFile);
    if (Kept.open(QIODevice::ReadOnly))
        for (const QByteArray& Line : Kept.readAll().split('\n'))
            if (!Line.isEmpty())
                FRetained.insert(QString::fromUtf8(Line));

    connect(&Agent, &TAgent::Swiped, this, [this](const TSwipeRecord& Swipe) {
        if (FRunning)
            FOutbox->Swiped(Swipe);
    });
    connect(&Agent, &TAgent::DoorAdded, this, [this](TDoor* Door) { Follow(*Door); });
    connect(&Agent, &TAgent::DoorRemoved, this, [this](const QString& Id) { DoorRemoved(Id); });
    for (TDoor* Door : Agent.Doors())
        Follow(*Door);
    connect(&Agent.Time(), &TTimeKeeper::NextChanged, this, [this] {
        for (TDoor* Door : FAgent.Doors())
            PublishNext(*Door);
    });
    // From the event loop, so that what the first attempt says reaches an OnSay set after this.
    QMetaObject::invokeMethod(this, [this] {
        try {
            Start();
        } catch (const std::exception& E) {
            Say(3, QString::fromUtf8(E.what()));
        }
    }, Qt::QueuedConnection);
}

TMqttBridge::~TMqttBridge()
{
    SaveRetained();
    FOutbox.reset(); // its last marks go to the log before the client goes
}

void TMqttBridge::Say(int Priority, const QString& Text) const
{
    if (OnSay)
        return OnSay(Priority, Text);
    AgentLog(TPriority(Priority), Text);
}

bool TMqttBridge::Connected() const { return FClient->Connected(); }

QString TMqttBridge::Topic(const QString& DoorId, const QString& Leaf) const
{
    return QStringLiteral("%1/%2/%3").arg(FSettings.Prefix, DoorId, Leaf);
}

QString TMqttBridge::SwipeTopic(const TSwipeRecord& Swipe) const
{
    // Rows of older programs name their door only by name.
    if (!Swipe.DoorId.isEmpty())
        return Topic(Swipe.DoorId, QStringLiteral("swipe"));
    const auto Id = FDoorIdsByName.find(Swipe.Door);
    return Id == FDoorIdsByName.end() ? QString() : Topic(Id->second, QStringLiteral("swipe"));
}

TDoor* TMqttBridge::DoorById(const QString& Id) const
{
    for (TDoor* Door : FAgent.Doors())
        if (Door->Config().Id == Id)
            return Door;
    return nullptr;
}

void TMqttBridge::Start()
{
    FRunning = true;
    FIgnoredSaid = false;
    if (!FSettings.Commands)
        Say(6, QStringLiteral("mqtt: commands are off; messages on %1/+/set/# and get/# are ignored").arg(FSettings.Prefix));
    FClient->Start(FSettings, FSettings.Prefix + QStringLiteral("/agent/status"), "offline");
}

void TMqttBridge::Publish(const QString& Topic, const QByteArray& Payload, bool Retain)
{
    if (Retain)
        return this->Retain(Topic, Payload);
    FClient->Publish(Topic, Payload, false);
}

// Remembered until cleared, so that whatever stops being wanted (a door removed while the broker
// was away, discovery turned off, another prefix) is cleared rather than kept by the broker.
void TMqttBridge::Retain(const QString& Topic, const QByteArray& Payload)
{
    if (FClient->Publish(Topic, Payload, true) == 0)
        return;
    if (!(Payload.isEmpty() ? FRetained.erase(Topic) == 1 : FRetained.insert(Topic).second) || std::exchange(FRetainedChanged, true))
        return;
    // Once for a burst (a connect says every door's state and configs).
    QMetaObject::invokeMethod(this, [this] { SaveRetained(); }, Qt::QueuedConnection);
}

void TMqttBridge::SaveRetained()
{
    if (!std::exchange(FRetainedChanged, false))
        return;
    QDir().mkpath(QFileInfo(FRetainedFile).absolutePath());
    QSaveFile File(FRetainedFile);
    QByteArray Text;
    for (const QString& Topic : FRetained)
        Text += Topic.toUtf8() + '\n';
    if (!File.open(QIODevice::WriteOnly) || File.write(Text) != Text.size() || !File.commit())
        Say(4, QStringLiteral("mqtt: cannot keep the list of retained topics in %1: %2").arg(FRetainedFile, File.errorString()));
}

// Kept: this connect's discovery configs, and the states of the agent and of the doors held
// now under the current prefix. Everything else retained before is cleared.
void TMqttBridge::ClearUnwanted()
{
    std::vector<QString> Unwanted;
    for (const QString& Topic : FRetained) {
        const QStringList Levels = Topic.mid(FSettings.Prefix.size() + 1).split(u'/');
        const bool State = Topic.startsWith(FSettings.Prefix + u'/') && Levels.size() == 2
                           && (Levels[0] == u"agent" || DoorById(Levels[0]));
        if (!State && !FWanted.count(Topic))
            Unwanted.push_back(Topic);
    }
    for (const QString& Topic : Unwanted)
        Retain(Topic, {});
    if (!Unwanted.empty())
        Say(6, QStringLiteral("mqtt: cleared %1 retained topics no longer wanted").arg(Unwanted.size()));
}

// Everything retained is said again: the broker may have been restarted without its store.
void TMqttBridge::ClientConnected()
{
    FWanted.clear();
    const auto Announce = [this](const std::vector<TRetainedMessage>& Configs) {
        for (const TRetainedMessage& M : Configs) {
            if (!M.Payload.isEmpty())
                FWanted.insert(M.Topic);
            Retain(M.Topic, M.Payload);
        }
    };
    Retain(FSettings.Prefix + QStringLiteral("/agent/status"), "online");
    if (FSettings.Discovery)
        Announce(AgentDiscovery(FSettings));
    for (TDoor* Door : FAgent.Doors()) {
        if (FSettings.Discovery)
            Announce(DoorDiscovery(FSettings, Door->Config()));
        PublishStatus(*Door);
        PublishDoorSettings(*Door);
        PublishCards(*Door);
        PublishNext(*Door);
    }
    ClearUnwanted();
    for (const QString& Verb : CommandVerbs)
        FClient->Subscribe(QStringLiteral("%1/+/%2").arg(FSettings.Prefix, Verb));
    FOutbox->Connected();
}

void TMqttBridge::Follow(TDoor& Door)
{
    const QString Id = Door.Config().Id;
    FDoors[Id] = {};
    FDoorIdsByName.insert_or_assign(Door.Config().Name, Id);
    TDoor* D = &Door; // the connections go with it
    connect(D, &TDoor::StatusChanged, this, [this, D] { PublishStatus(*D); });
    connect(D, &TDoor::DoorSettingsRead, this, [this, D] {
        FDoors[D->Config().Id].DoorKnown = true;
        PublishDoorSettings(*D);
    });
    connect(D, &TDoor::CardsChanged, this, [this, D] {
        FDoors[D->Config().Id].CardsKnown = true;
        PublishCards(*D);
    });
    if (FClient->Connected()) {
        if (FSettings.Discovery)
            for (const TRetainedMessage& M : DoorDiscovery(FSettings, Door.Config())) {
                if (!M.Payload.isEmpty())
                    FWanted.insert(M.Topic);
                Retain(M.Topic, M.Payload);
            }
        PublishStatus(Door);
        PublishNext(Door);
    }
}

void TMqttBridge::DoorRemoved(const QString& Id)
{
    FDoors.erase(Id);
    // A door replaced by its changed section keeps its topics; the new one says them again.
    const auto& Wanted = FAgent.Config().Doors;
    if (std::any_of(Wanted.begin(), Wanted.end(), [&](const TDoorConfig& D) { return D.Id == Id; }))
        return;
    if (!FClient->Connected())
        return; // cleared at the next connect
    for (const TRetainedMessage& M : DoorDiscoveryRemoval(FSettings, Id)) {
        FWanted.erase(M.Topic);
        if (FRetained.count(M.Topic))
            Retain(M.Topic, {});
    }
    // Its retained state goes too: nothing is left that says it exists.
    for (const char* Leaf : {"status", "door", "cards", "next"})
        Retain(Topic(Id, QLatin1String(Leaf)), {});
}

void TMqttBridge::PublishStatus(TDoor& Door)
{
    Publish(Topic(Door.Config().Id, QStringLiteral("status")), Door.Online() ? "online" : "offline", true);
}

void TMqttBridge::PublishDoorSettings(TDoor& Door)
{
    if (FDoors[Door.Config().Id].DoorKnown)
        Publish(Topic(Door.Config().Id, QStringLiteral("door")), DoorSettingsPayload(Door.Reader()), true);
}

void TMqttBridge::PublishNext(TDoor& Door)
{
    if (FClient->Connected())
        Publish(Topic(Door.Config().Id, QStringLiteral("next")), NextChangePayload(FAgent.Time().Next(Door.Config().Id)), true);
}

void TMqttBridge::PublishCards(TDoor& Door)
{
    if (FDoors[Door.Config().Id].CardsKnown)
        Publish(Topic(Door.Config().Id, QStringLiteral("cards")), CardsSummaryPayload(Door.Reader().Tags(), Door.Reader().Master()), true);
}

void TMqttBridge::PublishOffline()
{
    for (TDoor* Door : FAgent.Doors())
        Publish(Topic(Door->Config().Id, QStringLiteral("status")), "offline", true);
    Publish(FSettings.Prefix + QStringLiteral("/agent/status"), "offline", true);
}

void TMqttBridge::Stop(std::function<void()> Done)
{
    FRunning = false;
    if (FClient->Connected())
        PublishOffline();
    FOutbox->MarkNow();
    FClient->Stop(std::move(Done));
}

void TMqttBridge::Apply(const std::optional<TMqttSettings>& Settings)
{
    if (Settings && *Settings == FSettings && FRunning)
        return;
    const auto Next = Settings;
    Stop([this, Next] {
        if (!Next)
            return Say(5, QStringLiteral("mqtt: no [mqtt] section any more: off the bus"));
        FSettings = *Next;
        Start();
    });
}

// ---- commands

void TMqttBridge::Message(const QString& Topic, const QByteArray& Payload, bool Retained)
{
    // PREFIX/DOOR/set/door: the door and the verb after the prefix.
    const QStringList Levels = Topic.mid(FSettings.Prefix.size() + 1).split(u'/');
    if (!Topic.startsWith(FSettings.Prefix + u'/') || Levels.size() != 3 || Payload.isEmpty())
        return; // an empty one clears a retained command
    const QString Verb = Levels[1] + u'/' + Levels[2];
    if (!FSettings.Commands) {
        if (!std::exchange(FIgnoredSaid, true))
            Say(5, QStringLiteral("mqtt: ignored a command on %1: [mqtt] commands is off (said once)").arg(Topic));
        return;
    }
    // The broker hands a retained command to every new subscription: it would be done again at
    // every reconnect.
    if (Retained) {
        if (FRetainedSaid.insert(Topic).second) {
            QJsonValue RequestId;
            try {
                RequestId = CommandObject(Payload).value(u"id");
            } catch (const std::exception&) {
            }
            const QString Why = QStringLiteral("a retained command is ignored: send commands without retain, and clear this "
                                               "one with an empty retained message on %1").arg(Topic);
            Say(4, QStringLiteral("mqtt: %1").arg(Why));
            Publish(this->Topic(Levels[0], QStringLiteral("result")), ResultPayload(RequestId, false, Why), false);
        }
        return;
    }
    TDoor* Door = DoorById(Levels[0]);
    if (!Door) {
        Say(4, QStringLiteral("mqtt: a command on %1 names no door the agent holds").arg(Topic));
        return;
    }
    Command(*Door, Verb, Payload);
}

void TMqttBridge::Command(TDoor& Door, const QString& Verb, const QByteArray& Payload)
{
    const QString Id = Door.Config().Id;
    QJsonValue RequestId;
    // Said on the result topic and in the log, whatever the outcome; the door may be gone by then.
    auto Answer = [this, Id, Verb](const QJsonValue& Request, bool Ok, const QString& Message) {
        Say(Ok ? 5 : 4, QStringLiteral("%1: %2 %3: %4").arg(Id, Verb, Ok ? QStringLiteral("done") : QStringLiteral("failed"), Message));
        Publish(Topic(Id, QStringLiteral("result")), ResultPayload(Request, Ok, Message), false);
    };
    try {
        const QJsonObject Given = CommandObject(Payload);
        RequestId = Given.value(u"id");
        const QString Refusal = Door.CommandRefusal();
        if (Verb == u"set/door") {
            const TDoorCommand C = DoorCommandFrom(Given);
            if (!Refusal.isEmpty())
                return Answer(RequestId, false, Refusal);
            // The other half would be a guess.
            if ((!C.Mode || !C.Delay) && !Door.DoorSettingsKnown())
                return Answer(RequestId, false, QStringLiteral("the reader of door %1 has not told its door settings yet: give both mode and delay").arg(Id));
            Door.WriteDoorSettings(C.Mode.value_or(Door.Reader().DoorMode()),
                                   C.Delay.value_or(uint8_t(Door.Reader().DoorDelay())),
                                   [Answer, RequestId](bool Ok, const QString& Message) { Answer(RequestId, Ok, Message); });
        } else if (Verb == u"set/cards") {
            const TCardsCommand C = CardsCommandFrom(Given);
            if (!Refusal.isEmpty())
                return Answer(RequestId, false, Refusal);
            Door.WriteCards(C.Cards, C.Master,
                            [Answer, RequestId](bool Ok, const QString& Message) { Answer(RequestId, Ok, Message); });
        } else {
            if (!Refusal.isEmpty())
                return Answer(RequestId, false, Refusal);
            const TRfidTags& Tags = Door.Reader().Tags();
            Publish(Topic(Id, QStringLiteral("cards/list")), CardListPayload(RequestId, Tags, Door.Reader().Master()), false);
            Answer(RequestId, true, QStringLiteral("%1 cards on %2").arg(Tags.Count()).arg(Topic(Id, QStringLiteral("cards/list"))));
        }
    } catch (const std::exception& E) {
        Answer(RequestId, false, QString::fromUtf8(E.what()));
    }
}
