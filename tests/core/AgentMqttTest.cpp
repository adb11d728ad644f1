// dorvik-agent on a message bus: the real mosquitto on loopback, the agent's doors over simulated
// readers, and a probe client that sees what the agent publishes and sends its commands.

#include "log/AccessLog.h"
#include "log/SwipeJson.h"
#include "reader/Protocol.h"
#include "support/AgentBed.h"
#include "support/LogSupport.h"
#include "support/MosquittoBroker.h"
#include "support/MqttProbe.h"
#include "support/SimCards.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>

#include <csignal>

using namespace std::chrono_literals;

namespace {

#define NEED_BROKER()                                   \
    if (MosquittoBroker::Program().isEmpty())           \
    GTEST_SKIP() << "mosquitto is not installed"

QString Mqtt(int Port, const QString& Extra = {})
{
    return QStringLiteral("[mqtt]\nhost = 127.0.0.1\nport = %1\n%2\n").arg(Port).arg(Extra);
}

QJsonObject Json(const QByteArray& Payload) { return QJsonDocument::fromJson(Payload).object(); }

qint64 NowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Door I has read its reader's cards: it takes commands.
bool Ready(const MqttProbe& Probe, int I)
{
    return WaitUntil([&] { return !Probe.Last(QStringLiteral("dorvik/door-%1/cards").arg(I)).isEmpty(); }, 10s);
}

// The result of the request Id on door-0, or an empty object.
QJsonObject ResultOf(const MqttProbe& Probe, const QString& Id)
{
    QJsonObject Found;
    WaitUntil([&] {
        for (const auto& M : Probe.On(QStringLiteral("dorvik/door-0/result")))
            if (Json(M.Payload).value("id") == Id)
                Found = Json(M.Payload);
        return !Found.isEmpty();
    }, 10s);
    return Found;
}

std::vector<qint64> SwipeIdsSeen(const MqttProbe& Probe)
{
    std::vector<qint64> Ids;
    for (const auto& M : Probe.On())
        if (M.Topic.endsWith("/swipe"))
            Ids.push_back(Json(M.Payload).value("id").toInteger());
    return Ids;
}

struct Online
{
    MosquittoBroker Broker;
    std::unique_ptr<MqttProbe> Probe;
    explicit Online(const MosquittoOptions& Given = {}, bool Persistent = false) : Broker(Given)
    {
        if (Broker.Start())
            Probe = std::make_unique<MqttProbe>(Broker.Port(), QStringLiteral("#"), Persistent);
    }
    bool Ready() const { return Probe && WaitUntil([&] { return Probe->Subscribed(); }); }
};

} // namespace

TEST(AgentMqtt, ASwipeArrivesAsItsLogRowWithinASecondAndIsMarkedPublished)
{
    NEED_BROKER();
    Online Bus;
    ASSERT_TRUE(Bus.Ready()) << Bus.Broker.Output().toStdString();
    AgentBed Bed(1, {}, Mqtt(Bus.Broker.Port()));
    Bed.Readers[0]->SetCards({Card(5)});
    ASSERT_TRUE(Ready(*Bus.Probe, 0));
    TAccessLog Log(Bed.Path("access.db"));
    const struct
    {
        uint32_t Value;
        bool Known;
    } Cases[] = {{5, true}, {7, false}};
    for (const auto& C : Cases) {
        const size_t Before = Bus.Probe->On("dorvik/door-0/swipe").size();
        const qint64 Swiped = NowUs();
        Bed.Readers[0]->Swipe(Card(C.Value, 1));
        ASSERT_TRUE(WaitUntil([&] { return Bus.Probe->On("dorvik/door-0/swipe").size() > Before; }, 1s));
        const auto Got = Bus.Probe->On("dorvik/door-0/swipe").back();
        EXPECT_LT(Got.AtUs - Swiped, 1000000);
        EXPECT_FALSE(Got.Retained);
        const QJsonObject Swipe = Json(Got.Payload);
        EXPECT_EQ(Swipe, SwipeJson(Log.Query({.Limit = 1}).at(0)));
        EXPECT_EQ(Swipe.value("known").toBool(), C.Known);
        EXPECT_EQ(Swipe.value("value").toInteger(), C.Value);
        EXPECT_EQ(Swipe.value("door").toString(), "Door 0");
        EXPECT_EQ(Swipe.value("bytes").toString(), QStringLiteral("01000000%1").arg(C.Value, 2, 16, QChar('0')));
    }
    EXPECT_TRUE(WaitUntil([&] { return Log.Unpublished(10).empty(); }));
}

TEST(AgentMqtt, RetainedStateFollowsTheReaderAndACleanStopSaysOffline)
{
    NEED_BROKER();
    Online Bus;
    ASSERT_TRUE(Bus.Ready());
    AgentBed Bed(1, {}, Mqtt(Bus.Broker.Port()));
    Bed.Readers[0]->SetCards({Card(5), Card(6)});
    Bed.Readers[0]->SetMaster(1);
    ASSERT_TRUE(Ready(*Bus.Probe, 0));
    MqttProbe& P = *Bus.Probe;
    EXPECT_EQ(P.Last("dorvik/agent/status"), "online");
    EXPECT_EQ(P.Last("dorvik/door-0/status"), "online");
    EXPECT_EQ(Json(P.Last("dorvik/door-0/door")), (QJsonObject{{"mode", "lock-unlock"}, {"delay", Bed.Readers[0]->DoorDelay()}}));
    QByteArray Hashed;
    for (const auto& C : {Card(5), Card(6)})
        Hashed.append(reinterpret_cast<const char*>(C.data()), 5);
    Hashed.append(char(1));
    EXPECT_EQ(Json(P.Last("dorvik/door-0/cards")),
              (QJsonObject{{"count", 2}, {"master", "0000000006 000,6"},
                           {"sha256", QString(QCryptographicHash::hash(Hashed, QCryptographicHash::Sha256).toHex())}}));

    // Unplugged and back with a door mode no name stands for: offline, then online again.
    const size_t Before = P.On("dorvik/door-0/status").size();
    Bed.Replug(0);
    Bed.Readers[0]->SetDoor(7, 0);
    ASSERT_TRUE(WaitUntil([&] { return P.On("dorvik/door-0/status").size() == Before + 2; }, 10s));
    EXPECT_EQ(P.On("dorvik/door-0/status")[Before].Payload, "offline");
    EXPECT_EQ(P.Last("dorvik/door-0/status"), "online");
    EXPECT_TRUE(WaitUntil([&] { return Json(P.Last("dorvik/door-0/door")) == QJsonObject{{"mode", QJsonValue()}, {"delay", 0}}; }));

    bool Stopped = false;
    Bed.Bus->Stop([&] { Stopped = true; });
    ASSERT_TRUE(WaitUntil([&] { return Stopped; }));
    EXPECT_TRUE(WaitUntil([&] { return P.Last("dorvik/agent/status") == "offline" && P.Last("dorvik/door-0/status") == "offline"; }));
}

TEST(AgentMqtt, TheAgentProgramSaysOfflineWhenStoppedAndItsWillWhenKilled)
{
    NEED_BROKER();
    Online Bus;
    ASSERT_TRUE(Bus.Ready());
    QTemporaryDir Dir;
    QFile Config(Dir.filePath("agent.conf"));
    ASSERT_TRUE(Config.open(QIODevice::WriteOnly));
    Config.write(("[log]\npath = access.db\n" + Mqtt(Bus.Broker.Port())).toUtf8());
    Config.close();
    for (const int Signal : {SIGTERM, SIGKILL}) {
        const size_t Before = Bus.Probe->On("dorvik/agent/status").size();
        QProcess Agent;
        QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
        Env.insert("RUNTIME_DIRECTORY", Dir.filePath("run"));
        Env.insert("STATE_DIRECTORY", Dir.path());
        Agent.setProcessEnvironment(Env);
        Agent.start(DORVIK_AGENT, {"--config", Config.fileName()});
        ASSERT_TRUE(WaitUntil([&] { return Bus.Probe->On("dorvik/agent/status").size() > Before; }, 10s));
        EXPECT_EQ(Bus.Probe->Last("dorvik/agent/status"), "online");
        ::kill(pid_t(Agent.processId()), Signal);
        EXPECT_TRUE(WaitUntil([&] { return Bus.Probe->Last("dorvik/agent/status") == "offline"; }, 5s)) << Signal;
        // The loop above may have seen it end already.
        EXPECT_TRUE(Agent.state() == QProcess::NotRunning || Agent.waitForFinished(5000));
        if (Signal == SIGTERM) {
            EXPECT_EQ(Agent.exitCode(), 0) << Agent.readAllStandardError().toStdString();
        }
    }
}

TEST(AgentMqtt, SwipesMadeWhileTheBrokerIsAwayArriveOnceInOrder)
{
    NEED_BROKER();
    Online Bus({.Persistent = true}, true);
    ASSERT_TRUE(Bus.Ready());
    AgentBed Bed(2, {}, Mqtt(Bus.Broker.Port()));
    ASSERT_TRUE(Ready(*Bus.Probe, 0) && Ready(*Bus.Probe, 1));
    Bed.Readers[0]->Swipe(Card(1));
    TAccessLog Log(Bed.Path("access.db"));
    ASSERT_TRUE(WaitUntil([&] { return SwipeIdsSeen(*Bus.Probe).size() == 1 && Log.Unpublished(10).empty(); }));

    Bus.Broker.Stop();
    ASSERT_TRUE(WaitUntil([&] { return !Bed.Bus->Connected(); }));
    for (uint32_t I = 0; I < 6; ++I) {
        Bed.Readers[I % 2]->Swipe(Card(10 + I));
        ASSERT_TRUE(WaitUntil([&] { return Bed.Swipes.size() == 2 + I; }));
    }
    Pump(1s);
    ASSERT_TRUE(Bus.Broker.Start());
    ASSERT_TRUE(WaitUntil([&] { return SwipeIdsSeen(*Bus.Probe).size() >= 7; }, 20s)) << SwipeIdsSeen(*Bus.Probe).size() << Bed.Said.join("\n").toStdString();
    Pump(500ms); // a repeat would show now
    EXPECT_EQ(SwipeIdsSeen(*Bus.Probe), (std::vector<qint64>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_TRUE(WaitUntil([&] { return Log.Unpublished(10).empty(); }));
}

// A swipe the log cannot take yet goes out at once without an id, and each of them again with its
// row's id once the log has them all, together.
TEST(AgentMqtt, EverySwipeTheLogTakesLateIsSentAgainWithItsId)
{
    NEED_BROKER();
    Online Bus;
    ASSERT_TRUE(Bus.Ready());
    AgentBed Bed(1, {}, Mqtt(Bus.Broker.Port()));
    ASSERT_TRUE(Ready(*Bus.Probe, 0));
    {
        TLogLock Lock(Bed.Path("access.db"));
        ASSERT_TRUE(Lock.Held());
        for (uint32_t I = 0; I < 3; ++I)
            Bed.Readers[0]->Swipe(Card(20 + I));
        ASSERT_TRUE(WaitUntil([&] { return SwipeIdsSeen(*Bus.Probe).size() == 3; }, 10s));
        EXPECT_EQ(SwipeIdsSeen(*Bus.Probe), (std::vector<qint64>{0, 0, 0}));
    }
    ASSERT_TRUE(WaitUntil([&] { return SwipeIdsSeen(*Bus.Probe).size() == 6; }, 10s));
    Pump(300ms);
    EXPECT_EQ(SwipeIdsSeen(*Bus.Probe), (std::vector<qint64>{0, 0, 0, 1, 2, 3}));
    EXPECT_EQ(Bus.Probe->On("dorvik/door-0/swipe").size(), 6u);
}

// A swipe logged while the broker was away goes out on its door's topic even when the door was
// renamed and the bus started afresh meanwhile: the log keeps the door's id, not only its name.
TEST(AgentMqtt, ASwipeOfARenamedDoorStillGoesOutOnItsDoorsTopic)
{
    NEED_BROKER();
    Online Bus({.Persistent = true}, true);
    ASSERT_TRUE(Bus.Ready());
    AgentBed Bed(1, {}, Mqtt(Bus.Broker.Port()));
    ASSERT_TRUE(Ready(*Bus.Probe, 0));
    Bus.Broker.Stop();
    ASSERT_TRUE(WaitUntil([&] { return !Bed.Bus->Connected(); }));
    Bed.Readers[0]->Swipe(Card(31));
    ASSERT_TRUE(WaitUntil([&] { return Bed.Swipes.size() == 1; }));
    Bed.Bus.reset();
    Bed.Configure(QStringLiteral("[door-0]\nname = Front door\nport = %1\n[log]\npath = access.db\n%2")
                      .arg(Bed.Path("tty0"), Mqtt(Bus.Broker.Port())).toUtf8());
    Bed.Agent->Reload();
    ASSERT_TRUE(Bus.Broker.Start());
    Bed.Bus = std::make_unique<TMqttBridge>(*Bed.Agent, *MqttSettingsIn(Bed.Path("agent.conf"), Bed.Agent->Config()));
    ASSERT_TRUE(WaitUntil([&] { return !Bus.Probe->On("dorvik/door-0/swipe").empty(); }, 15s));
    EXPECT_EQ(Json(Bus.Probe->On("dorvik/door-0/swipe").back().Payload).value("door"), "Door 0");
}

// A command while commands are off, or one the broker kept (retained, so handed over again at
// every reconnect): nothing is done, and it is said once.
TEST(AgentMqtt, IgnoredCommandsChangeNothingAndAreSaidOnce)
{
    NEED_BROKER();
    const struct
    {
        const char* Extra;
        bool Retain;
        int Results; // on the result topic
        const char* Said;
    } Cases[] = {{"", false, 0, "commands is off"}, {"commands = true", true, 1, "a retained command is ignored"}};
    const QByteArray Command = R"({"id": "x", "mode": "timed", "delay": 9})";
    for (const auto& C : Cases) {
        Online Bus({.Persistent = true}, true);
        ASSERT_TRUE(Bus.Ready());
        // A retained one comes with every subscription: the agent's first, and again after the
        // broker's restart. A plain one comes twice.
        if (C.Retain)
            Bus.Probe->Publish("dorvik/door-0/set/door", Command, true);
        AgentBed Bed(1, {}, Mqtt(Bus.Broker.Port(), C.Extra));
        ASSERT_TRUE(Ready(*Bus.Probe, 0));
        if (C.Retain) {
            Pump(500ms);
            Bus.Broker.Stop();
            ASSERT_TRUE(WaitUntil([&] { return !Bed.Bus->Connected(); }));
            ASSERT_TRUE(Bus.Broker.Start());
            ASSERT_TRUE(WaitUntil([&] { return Bed.Bus->Connected(); }, 10s));
        } else {
            for (int I = 0; I < 2; ++I)
                Bus.Probe->Publish("dorvik/door-0/set/door", Command);
        }
        Pump(1s);
        EXPECT_EQ(Bed.Readers[0]->DoorDelay(), 5);
        EXPECT_EQ(Bus.Probe->On("dorvik/door-0/result").size(), size_t(C.Results)) << C.Said;
        EXPECT_EQ(Bed.Said.filter(C.Said).size(), 1) << Bed.Said.join('\n').toStdString();
        Bus.Probe->Publish("dorvik/door-0/set/door", {}, true);
    }
}

TEST(AgentMqtt, CommandsReachTheReaderAndTheResultSaysSo)
{
    NEED_BROKER();
    Online Bus;
    ASSERT_TRUE(Bus.Ready());
    AgentBed Bed(1, {}, Mqtt(Bus.Broker.Port(), "commands = true"));
    ASSERT_TRUE(Ready(*Bus.Probe, 0));
    MqttProbe& P = *Bus.Probe;

    P.Publish("dorvik/door-0/set/door", R"({"id": "a", "mode": "timed", "delay": 12})");
    EXPECT_TRUE(ResultOf(P, "a").value("ok").toBool()) << Bed.Said.join('\n').toStdString();
    EXPECT_EQ(Bed.Readers[0]->DoorMode(), 2);
    EXPECT_EQ(Bed.Readers[0]->DoorDelay(), 12);
    EXPECT_EQ(Json(P.Last("dorvik/door-0/door")), (QJsonObject{{"mode", "timed"}, {"delay", 12}}));

    // The shape dorvik-cli show --format json prints, with the request's id.
    P.Publish("dorvik/door-0/set/cards", R"({"id": "b", "cards": [
        {"id": 1, "cardNumber": "0000000005 000,5", "value": 5, "name": "Ann", "master": false},
        {"id": 2, "cardNumber": "0000000006 000,6", "value": 6, "name": "Bob", "master": true}]})");
    const QJsonObject Written = ResultOf(P, "b");
    EXPECT_TRUE(Written.value("ok").toBool()) << Written.value("message").toString().toStdString();
    EXPECT_EQ(Bed.Readers[0]->Cards(), (std::vector{Card(5), Card(6)}));
    EXPECT_EQ(Bed.Readers[0]->Master(), 1);
    Bed.Readers[0]->Swipe(Card(6));
    ASSERT_TRUE(WaitUntil([&] { return !P.Last("dorvik/door-0/swipe").isEmpty(); }));
    EXPECT_EQ(Json(P.Last("dorvik/door-0/swipe")).value("name"), "Bob");

    P.Publish("dorvik/door-0/get/cards", R"({"id": "c"})");
    EXPECT_TRUE(ResultOf(P, "c").value("ok").toBool());
    const QJsonObject Listed = Json(P.Last("dorvik/door-0/cards/list"));
    EXPECT_EQ(Listed.value("id"), "c");
    EXPECT_EQ(Listed.value("master"), 2);
    EXPECT_EQ(Listed.value("cards").toArray().at(0).toObject().value("name"), "Ann");
}

// SIGTERM during a door setting the reader never answers: the stop waits for that step's bound,
// not for ever, and the command's result says it failed.
TEST(AgentMqtt, AStopWaitsForAnUnansweredCommandOnlyUntilItsBound)
{
    NEED_BROKER();
    Online Bus;
    ASSERT_TRUE(Bus.Ready());
    AgentBed Bed(1, {}, Mqtt(Bus.Broker.Port(), "commands = true"));
    ASSERT_TRUE(Ready(*Bus.Probe, 0));
    Bed.Readers[0]->SetSilent(true);
    Bus.Probe->Publish("dorvik/door-0/set/door", R"({"id": "s", "mode": "timed", "delay": 9})");
    ASSERT_TRUE(WaitUntil([&] { return Bed.FramesOf(0, protocol::fcDoorConfig) == 1; }));
    bool Stopped = false;
    Bed.Agent->Stop([&] { Stopped = true; });
    EXPECT_TRUE(WaitUntil([&] { return Stopped; }, 10s));
    EXPECT_FALSE(ResultOf(*Bus.Probe, "s").value("ok").toBool());
}

TEST(AgentMqtt, ABadCommandChangesNothingAndSaysWhy)
{
    NEED_BROKER();
    Online Bus;
    ASSERT_TRUE(Bus.Ready());
    AgentBed Bed(1, {}, Mqtt(Bus.Broker.Port(), "commands = true"));
    Bed.Readers[0]->SetCards({Card(5)});
    ASSERT_TRUE(Ready(*Bus.Probe, 0));
    QJsonArray TooMany;
    for (int I = 0; I < 251; ++I)
        TooMany.append(QJsonObject{{"value", 100 + I}});
    const QByteArray Many = QJsonDocument(QJsonObject{{"id", "5"}, {"cards", TooMany}}).toJson();
    QLocalSocket Program;
    const struct
    {
        const char* Leaf;
        QByteArray Payload;
        const char* Said;
        std::function<void()> Before;
    } Cases[] = {
        {"set/door", R"({"id": "1", "mode": "open"})", "unknown door mode 'open'", {}},
        {"set/door", R"({"id": "2", "delay": 0})", "delay takes a whole number of seconds from 1 to 255", {}},
        {"set/door", R"({"id": "3", "delay": 256})", "delay takes a whole number of seconds from 1 to 255", {}},
        {"set/door", R"({"id": "4", "mode": )", "not JSON", {}},
        {"set/cards", Many, "251 cards: the reader takes 250 at most", {}},
        {"set/cards", R"({"id": "6", "cards": [{"bytes": "01XY000005"}]})", "card 1: bytes takes ten hex digits", {}},
        {"set/cards", R"({"id": "7", "cards": [{"value": 5, "cardNumber": "0000000006 000,6"}]})", "card 1: cardNumber names another card", {}},
        {"set/cards", R"({"id": "8", "cards": [{"value": 5, "master": true}, {"value": 6, "master": true}]})", "card 2: is a second master card", {}},
        {"set/door", R"({"id": "9", "mode": "timed"})", "a program drives door door-0 through its socket",
         [&] {
             Program.connectToServer(Bed.Agent->Doors()[0]->SocketPath());
             ASSERT_TRUE(WaitUntil([&] { return Program.state() == QLocalSocket::ConnectedState; }));
             Pump(200ms);
         }},
        {"set/door", R"({"id": "10", "mode": "timed"})", "the reader of door door-0 is offline",
         [&] {
             Program.disconnectFromServer();
             Bed.Readers[0]->HangUp();
             ASSERT_TRUE(WaitUntil([&] { return Bus.Probe->Last("dorvik/door-0/status") == "offline"; }));
         }},
        {"set/door", R"({"id": "11", "delay": 9})", "has not told its door settings yet",
         [&] {
             Bed.Replug(0); // back, but silent when asked for its door settings
             Bed.Readers[0]->SetSilent(true);
             ASSERT_TRUE(WaitUntil([&] { return Bed.Readers[0]->WaitForFrames(1, 0ms); }, 10s));
             Bed.Readers[0]->SetSilent(false);
             ASSERT_TRUE(WaitUntil([&] { return Bed.Agent->Doors()[0]->Step() == TDoor::TStep::Idle; }, 15s));
         }},
    };
    for (const auto& C : Cases) {
        if (C.Before)
            C.Before();
        const size_t Before = Bus.Probe->On("dorvik/door-0/result").size();
        Bus.Probe->Publish(QStringLiteral("dorvik/door-0/") + C.Leaf, C.Payload);
        ASSERT_TRUE(WaitUntil([&] { return Bus.Probe->On("dorvik/door-0/result").size() > Before; })) << C.Payload.toStdString();
        const QJsonObject Last = Json(Bus.Probe->On("dorvik/door-0/result").back().Payload);
        EXPECT_FALSE(Last.value("ok").toBool()) << C.Payload.toStdString();
        EXPECT_TRUE(Last.value("message").toString().contains(C.Said)) << Last.value("message").toString().toStdString();
        EXPECT_EQ(Bed.Readers[0]->Cards(), std::vector{Card(5)});
        EXPECT_EQ(Bed.Readers[0]->DoorMode(), 0);
    }
}

TEST(AgentMqtt, AWrongPasswordOrCertificateIsSaidClearlyAndSwipesAreStillLogged)
{
    NEED_BROKER();
    const struct
    {
        bool Tls;
        const char* Password; // in the agent's password-file, taken as it stands
        bool OtherCa;
        const char* Said;     // empty: it connects
    } Cases[] = {
        {false, " right ", false, ""},
        {false, "right", false, "refused"},
        {true, nullptr, false, ""},
        {true, nullptr, true, "TLS failed"},
    };
    for (const auto& C : Cases) {
        if (C.Tls && !MosquittoBroker::HaveOpenssl())
            continue;
        MosquittoBroker Broker(C.Tls ? MosquittoOptions{.Tls = true} : MosquittoOptions{.User = "door", .Password = " right "});
        ASSERT_TRUE(Broker.Start()) << Broker.Output().toStdString();
        QTemporaryDir Dir;
        QFile Secret(Dir.filePath("secret"));
        ASSERT_TRUE(Secret.open(QIODevice::WriteOnly) && Secret.write(C.Password ? QByteArray(C.Password) + "\n" : QByteArray()) >= 0);
        Secret.close();
        const QString Extra = C.Tls ? "ca-file = " + (C.OtherCa ? Broker.OtherCaFile() : Broker.CaFile())
                                    : "username = door\npassword-file = " + Secret.fileName();
        AgentBed Bed(1, {}, Mqtt(Broker.Port(), Extra));
        if (*C.Said) {
            ASSERT_TRUE(WaitUntil([&] { return !Bed.Said.filter(C.Said).isEmpty(); }, 10s)) << Bed.Said.join('\n').toStdString();
            EXPECT_TRUE(Bed.Said.filter(C.Said).at(0).startsWith("<3>")) << Bed.Said.join('\n').toStdString();
        } else {
            EXPECT_TRUE(WaitUntil([&] { return Bed.Bus->Connected(); }, 10s)) << Bed.Said.join('\n').toStdString();
        }
        ASSERT_TRUE(WaitUntil([&] { return Bed.Readers[0]->WaitForFrames(2, 0ms); }, 10s));
        Pump(200ms);
        Bed.Readers[0]->Swipe(Card(5));
        EXPECT_TRUE(WaitUntil([&] { return Bed.Swipes.size() == 1; }));
        EXPECT_EQ(TAccessLog(Bed.Path("access.db")).Query({}).size(), 1u);
    }
}

TEST(AgentMqtt, DiscoveryConfigsCarryTheKeysHomeAssistantRequires)
{
    NEED_BROKER();
    Online Bus;
    ASSERT_TRUE(Bus.Ready());
    AgentBed Bed(2, {}, Mqtt(Bus.Broker.Port(), "commands = true"));
    // Home Assistant's documented required keys per component, and what every config here has.
    const std::map<QString, QStringList> Required = {
        {"event", {"state_topic", "event_types"}},       {"sensor", {"state_topic"}},
        {"binary_sensor", {"state_topic"}},              {"select", {"command_topic", "options"}},
        {"number", {"command_topic"}},
    };
    const QStringList Every = {"unique_id", "name", "device"};
    const auto Configs = [&] {
        std::map<QString, QJsonObject> Found;
        for (const auto& M : Bus.Probe->On())
            if (M.Topic.startsWith("homeassistant/"))
                Found[M.Topic] = Json(M.Payload);
        return Found;
    };
    ASSERT_TRUE(WaitUntil([&] { return Configs().size() == 13; }, 10s)) << Configs().size();
    std::set<QString> UniqueIds, Via;
    QString AgentDevice;
    for (const auto& [Topic, Config] : Configs()) {
        const QString Component = Topic.split('/')[1];
        ASSERT_TRUE(Required.count(Component)) << Topic.toStdString();
        for (const QString& Key : Required.at(Component) + Every)
            EXPECT_TRUE(Config.contains(Key)) << Topic.toStdString() << " lacks " << Key.toStdString();
        UniqueIds.insert(Config.value("unique_id").toString());
        const QJsonObject Device = Config.value("device").toObject();
        EXPECT_FALSE(Device.value("identifiers").toArray().isEmpty());
        if (Config.contains("command_template")) { // the entity's own id as the request's
            EXPECT_TRUE(Config.value("command_template").toString().contains(Config.value("unique_id").toString())) << Topic.toStdString();
        }
        if (Topic.endsWith("/agent/config")) {
            // Its state is the agent's status: it shows off, never unavailable.
            AgentDevice = Device.value("identifiers").toArray().at(0).toString();
            EXPECT_FALSE(Config.contains("availability")) << Topic.toStdString();
            EXPECT_EQ(Config.value("state_topic"), "dorvik/agent/status");
            continue;
        }
        Via.insert(Device.value("via_device").toString());
        // A door's entities go unavailable with the agent (whose status is its last will), and
        // those that need the reader with the reader.
        QStringList Topics;
        for (const QJsonValue& A : Config.value("availability").toArray())
            Topics << A.toObject().value("topic").toString();
        const bool OnReader = Component == "event" || Component == "select" || Component == "number";
        EXPECT_EQ(Topics.value(0), "dorvik/agent/status") << Topic.toStdString();
        EXPECT_EQ(Topics.size(), OnReader ? 2 : 1) << Topic.toStdString();
        EXPECT_EQ(Config.value("availability_mode"), "all");
    }
    EXPECT_EQ(UniqueIds.size(), 13u);
    EXPECT_EQ(Via, std::set{AgentDevice});
}

// What the agent no longer wants retained is cleared by its next connect, however it went: a
// door removed (while connected, or while the bridge was down), discovery off, another prefix.
TEST(AgentMqtt, RetainedTopicsNoLongerWantedAreCleared)
{
    NEED_BROKER();
    const struct
    {
        const char* What;
        int Doors;
        const char* Extra;
        bool Restart; // the bridge is made again, as after an agent's restart
        const char* Gone;
        const char* Kept;
    } Cases[] = {
        {"a door removed", 1, "", false, "door-1", "dorvik/door-0/status"},
        {"a door removed while the bridge was down", 1, "", true, "door-1", "dorvik/door-0/status"},
        {"discovery turned off", 2, "discovery = false", true, "homeassistant/", "dorvik/door-1/status"},
        {"another prefix", 2, "prefix = site", false, "dorvik/", "site/door-1/status"},
    };
    for (const auto& C : Cases) {
        Online Bus;
        ASSERT_TRUE(Bus.Ready());
        AgentBed Bed(2, {}, Mqtt(Bus.Broker.Port(), "commands = true"));
        ASSERT_TRUE(Ready(*Bus.Probe, 0) && Ready(*Bus.Probe, 1));
        QString Config;
        for (int I = 0; I < C.Doors; ++I)
            Config += QStringLiteral("[door-%1]\nname = Door %1\nport = %2\n").arg(I).arg(Bed.Path(QString("tty%1").arg(I)));
        Bed.Configure((Config + "[log]\npath = access.db\n" + Mqtt(Bus.Broker.Port(), QStringLiteral("commands = true\n") + C.Extra)).toUtf8());
        if (C.Restart)
            Bed.Bus.reset();
        Bed.Agent->Reload();
        const TMqttSettings Settings = *MqttSettingsIn(Bed.Path("agent.conf"), Bed.Agent->Config());
        if (C.Restart)
            Bed.Bus = std::make_unique<TMqttBridge>(*Bed.Agent, Settings);
        else
            Bed.Bus->Apply(Settings);
        // What the broker keeps, as a new subscriber sees it.
        MqttProbe Fresh(Bus.Broker.Port());
        const auto Kept = [&] {
            std::map<QString, QByteArray> Last;
            for (const auto& M : Fresh.On())
                Last[M.Topic] = M.Payload;
            QStringList Topics;
            for (const auto& [Topic, Payload] : Last)
                if (!Payload.isEmpty())
                    Topics << Topic;
            return Topics;
        };
        EXPECT_TRUE(WaitUntil([&] { return Kept().contains(C.Kept) && Kept().filter(C.Gone).isEmpty(); }, 10s))
            << C.What << ":\n" << Kept().join('\n').toStdString();
    }
}
