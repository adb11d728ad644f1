#include "bus/MqttBridge.h"

#include "agent/Agent.h"
#include "agent/AgentLog.h"
#include "agent/Door.h"
#include "bus/MqttClient.h"
#include "bus/MqttCommands.h"
#include "bus/MqttDiscovery.h"
#include "bus/MqttPayloads.h"
#include "bus/SwipeOutbox.h"
#include "log/SwipeRecord.h"

#include <QJsonObject>

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
    FClient->OnMessage = [this](const QString& Topic, const QByteArray& Payload) { Message(Topic, Payload); };

    FAgentSwipe = std::exchange(Agent.OnSwipe, [this](TDoor& Door, const TSwipeRecord& Swipe) {
        if (FAgentSwipe)
            FAgentSwipe(Door, Swipe);
        if (FRunning)
            FOutbox->Swiped(Swipe);
    });
    FAgentDoorAdded = std::exchange(Agent.OnDoorAdded, [this](TDoor& Door) {
        if (FAgentDoorAdded)
            FAgentDoorAdded(Door);
        Follow(Door);
    });
    FAgentDoorRemoved = std::exchange(Agent.OnDoorRemoved, [this](const QString& Id) {
        if (FAgentDoorRemoved)
            FAgentDoorRemoved(Id);
        DoorRemoved(Id);
    });
    for (TDoor* Door : Agent.Doors())
        Follow(*Door);
    // From the event loop, so that what the first attempt says reaches an OnSay set after this.
    QMetaObject::invokeMethod(this, [this] { Start(); }, Qt::QueuedConnection);
}

TMqttBridge::~TMqttBridge()
{
    FAgent.OnSwipe = FAgentSwipe;
    FAgent.OnDoorAdded = FAgentDoorAdded;
    FAgent.OnDoorRemoved = FAgentDoorRemoved;
    for (TDoor* Door : FAgent.Doors())
        Door->OnStatus = Door->OnDoorConfig = Door->OnCards = nullptr;
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
    FClient->Publish(Topic, Payload, Retain);
}

// Everything retained is said again: the broker may have been restarted without its store.
void TMqttBridge::ClientConnected()
{
    Publish(FSettings.Prefix + QStringLiteral("/agent/status"), "online", true);
    if (FSettings.Discovery)
        for (const TRetainedMessage& M : AgentDiscovery(FSettings))
            Publish(M.Topic, M.Payload, true);
    for (TDoor* Door : FAgent.Doors()) {
        if (FSettings.Discovery)
            for (const TRetainedMessage& M : DoorDiscovery(FSettings, Door->Config()))
                Publish(M.Topic, M.Payload, true);
        PublishStatus(*Door);
        PublishDoorSettings(*Door);
        PublishCards(*Door);
    }
    for (const QString& Verb : CommandVerbs)
        FClient->Subscribe(QStringLiteral("%1/+/%2").arg(FSettings.Prefix, Verb));
    FOutbox->Connected();
}

void TMqttBridge::Follow(TDoor& Door)
{
    const QString Id = Door.Config().Id;
    FDoors[Id] = {};
    FDoorIdsByName.insert_or_assign(Door.Config().Name, Id);
    Door.OnStatus = [this](TDoor& D) { PublishStatus(D); };
    Door.OnDoorConfig = [this](TDoor& D) {
        FDoors[D.Config().Id].DoorKnown = true;
        PublishDoorSettings(D);
    };
    Door.OnCards = [this](TDoor& D) {
        FDoors[D.Config().Id].CardsKnown = true;
        PublishCards(D);
    };
    if (FClient->Connected()) {
        if (FSettings.Discovery)
            for (const TRetainedMessage& M : DoorDiscovery(FSettings, Door.Config()))
                Publish(M.Topic, M.Payload, true);
        PublishStatus(Door);
    }
}

void TMqttBridge::DoorRemoved(const QString& Id)
{
    FDoors.erase(Id);
    if (!FClient->Connected())
        return;
    if (FSettings.Discovery)
        for (const TRetainedMessage& M : DoorDiscoveryRemoval(FSettings, Id))
            Publish(M.Topic, M.Payload, true);
    // Its retained state goes too: nothing is left that says it exists.
    for (const char* Leaf : {"status", "door", "cards"})
        Publish(Topic(Id, QLatin1String(Leaf)), {}, true);
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

void TMqttBridge::Message(const QString& Topic, const QByteArray& Payload)
{
    // PREFIX/DOOR/set/door: the door and the verb after the prefix.
    const QStringList Levels = Topic.mid(FSettings.Prefix.size() + 1).split(u'/');
    if (!Topic.startsWith(FSettings.Prefix + u'/') || Levels.size() != 3)
        return;
    const QString Verb = Levels[1] + u'/' + Levels[2];
    if (!FSettings.Commands) {
        if (!std::exchange(FIgnoredSaid, true))
            Say(5, QStringLiteral("mqtt: ignored a command on %1: [mqtt] commands is off (said once)").arg(Topic));
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
