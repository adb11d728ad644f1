// dorvik-agent's doors over simulated readers: held through unplugs, swipes named from the site
// file, the site file written to every reader when it changes; its configuration checked.

#include "agent/AgentConfig.h"
#include "bus/MqttSettings.h"
#include "discovery/AgentDoors.h"
#include "reader/CPort.h"
#include "cards/CardDatabaseFile.h"
#include "log/AccessLog.h"
#include "support/AgentBed.h"
#include "support/BlackHole.h"
#include "support/Ser2netServer.h"
#include "support/SimCards.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <signal.h>

using namespace std::chrono_literals;

namespace {

void SaveSite(const QString& File, std::initializer_list<std::pair<uint32_t, QByteArray>> Cards, uint32_t Master = 0)
{
    TRfidTags Tags;
    for (const auto& [Value, Name] : Cards) {
        TRfidTag& T = Tags.Add();
        T.Bytes = Card(Value);
        T.Name = Name;
    }
    SaveCardDatabaseFile(File, Tags, {Master, 0, 5}); // replaces the file, as the window saves
}

} // namespace

// Comments, quotes and names read as --check says; a bad file names its section and key.
TEST(AgentConfig, ReadByItsStatedRuleAndABadFileNamesItsSectionAndKey)
{
    const struct
    {
        const char* Text;
        const char* Said; // empty: accepted, and the door is named Name
        const char* Name;
    } Cases[] = {
        {"[front-door]\nname = Front door ; by the stairs\nport = rfc2217://door-pc:4001   ; ser2net\n[log]\nkeep-days = 30\n", "", "Front door"},
        {"# gates\n[front-door]\nname = Gate #1\nport = rfc2217://door-pc:4001\n", "", "Gate #1"},
        {"[front-door]\nname = \" Gate ;1\"  ; quoted\nport = rfc2217://door-pc:4001\n", "", " Gate ;1"},
        {"[front-door]\nname = Gate;1\nport = rfc2217://door-pc:4001\n", "", "Gate;1"},
        {"[front-door]\nname = \"Gate\nport = x\n", ":2: a value that starts with '\"' ends with '\"'", ""},
        {"[a]\nname = Gate ;1\nport = x\n[b]\nname = Gate ;2\nport = y\n", "[b] name 'Gate' is already the name of [a] (a line that", ""},
        {"[a]\nport = x\n[b]\nname = a\nport = y\n", "[b] name 'a' is already the name of [a]", ""},
        {"[front-door]\nprot = /dev/ttyUSB0\n", "[front-door] unknown key 'prot'", ""},
        {"[front-door]\nname = x\n", "[front-door] port is missing", ""},
        {"[a]\nport = /dev/ttyUSB0\n[b]\nport = /dev/ttyUSB0\n", "[b] port /dev/ttyUSB0 is already the port of [a]", ""},
        {"[front door]\nport = x\n", "letters, digits and '-'", ""},
        {"[mqtt]\npassword = secret\n", "agent.conf:1: [mqtt] unknown key 'password'", ""},
        {"[mqtt]\nport = 1883\n", "[mqtt] host is missing", ""},
        {"[mqtt]\nhost = b\nport = 70000\n", "[mqtt] port takes a number from 1 to 65535", ""},
        {"[mqtt]\nhost = b\ncommands = maybe\n", "[mqtt] commands takes true or false", ""},
        {"[mqtt]\nhost = b\nprefix = doors/#\n", "[mqtt] prefix takes topic levels", ""},
        {"[mqtt]\nhost = b\ncert-file = c.pem\nkey-file = k.pem\n", "[mqtt] ca-file is missing", ""},
    };
    for (const auto& C : Cases) {
        try {
            const TAgentConfig Config = ParseAgentConfig("agent.conf", C.Text);
            MqttSettingsIn("agent.conf", Config);
            EXPECT_STREQ(C.Said, "") << C.Text;
            EXPECT_EQ(Config.Doors.at(0).Port, "rfc2217://door-pc:4001");
            EXPECT_EQ(Config.Doors.at(0).Name, C.Name);
        } catch (const std::exception& E) {
            EXPECT_TRUE(*C.Said && std::string(E.what()).find(C.Said) != std::string::npos) << C.Text << " -> " << E.what();
        }
    }
    // --check shows each door as it will be logged, and the rule.
    QTemporaryDir Dir;
    QFile File(Dir.filePath("agent.conf"));
    ASSERT_TRUE(File.open(QIODevice::WriteOnly) && File.write(Cases[0].Text) > 0);
    File.close();
    QProcess Check;
    Check.start(QStringLiteral(DORVIK_AGENT), {"--config", File.fileName(), "--check"});
    ASSERT_TRUE(Check.waitForFinished(10000));
    const QString Said = QString::fromUtf8(Check.readAllStandardOutput());
    EXPECT_TRUE(Said.contains("1 door\n  [front-door] name \"Front door\", port rfc2217://door-pc:4001\n(a line that")) << Said.toStdString();
}

// Door 0's reader is on a tty, door 1's behind ser2net.
TEST(AgentDoors, HeldThroughUnplugsAndServerRestartsNamedFromTheSiteFileAndGivenItWhenItChanges)
{
    if (Ser2netServer::Program().isEmpty())
        GTEST_SKIP() << "ser2net not found: install the ser2net package (listed in scripts/deps)";
    std::unique_ptr<Ser2netServer> Server;
    AgentBed Bed(2, "site-file = SITE", {}, [&](int Door, sim::SimReader& Reader) {
        if (Door == 0)
            return QString();
        Server = std::make_unique<Ser2netServer>(QString::fromStdString(Reader.PortName()), true);
        return Server->Url();
    });
    // The doors were set up before the site file existed: that is said, and they run without it.
    const QString Site = Bed.Path("SITE");
    ASSERT_TRUE(WaitUntil([&] { return Bed.Readers[0]->WaitForFrames(2, 0ms) && Bed.Readers[1]->WaitForFrames(2, 0ms); }, 10s));
    Bed.Readers[0]->SetCards({Card(5)});

    SaveSite(Site, {{5, "Ann"}, {6, "Bob"}}, 1);
    for (auto& R : Bed.Readers)
        ASSERT_TRUE(WaitUntil([&] { return R->Cards() == std::vector{Card(5), Card(6)} && R->Master() == 1; }, 10s));

    Pump(200ms);
    Bed.Readers[0]->Swipe(Card(6));
    ASSERT_TRUE(WaitUntil([&] { return Bed.Swipes.size() == 1; }));
    Bed.Readers[1]->Swipe(Card(7));
    ASSERT_TRUE(WaitUntil([&] { return Bed.Swipes.size() == 2; }));
    EXPECT_EQ(Bed.Swipes[0].Door, "door-0");
    EXPECT_TRUE(Bed.Swipes[0].Known);
    EXPECT_EQ(Bed.Swipes[0].Name, "Bob");
    EXPECT_FALSE(Bed.Swipes[1].Known);

    // Unplugged and back with an old list: taken again and given the site file.
    Bed.Readers[0]->SetCards({Card(99)});
    Bed.Replug(0);
    ASSERT_TRUE(WaitUntil([&] { return Bed.Readers[0]->Cards() == std::vector{Card(5), Card(6)}; }, 10s));
    // The server killed and started again where it was: taken again.
    const int Port = Server->Port();
    Server->Kill();
    Pump(500ms);
    Bed.Readers[1]->ClearLog();
    Server = std::make_unique<Ser2netServer>(QString::fromStdString(Bed.Readers[1]->PortName()), true, 9600, Port);
    ASSERT_TRUE(WaitUntil([&] { return Bed.Readers[1]->WaitForFrames(2, 0ms); }, 10s));
    Pump(300ms);
    for (int Door : {0, 1})
        Bed.Readers[size_t(Door)]->Swipe(Card(5));
    ASSERT_TRUE(WaitUntil([&] { return Bed.Swipes.size() == 4; }));
    EXPECT_EQ(Bed.Swipes[2].Name, "Ann");
    EXPECT_TRUE(Bed.Swipes[2].Known);

    // Each swipe once in the log, newest first, under the door's name.
    TAccessLog Log(Bed.Path("access.db"));
    const auto Rows = Log.Query({});
    ASSERT_EQ(Log.Error(), "");
    ASSERT_EQ(Rows.size(), 4u);
    EXPECT_NE(Rows[0].Door, Rows[1].Door);
    EXPECT_EQ(Rows[3].Door, "Door 0");
    EXPECT_EQ(Rows[0].Name, "Ann");
}

// The service as systemd runs it: SIGHUP keeps a door whose section did not change (its reader
// is not asked again) and takes a new one; SIGTERM ends it cleanly. Levels go to the journal.
// Signals come while a door's network open is under way (one that never answers): they wait for
// the loop, neither lost nor handled inside the open.
TEST(AgentProgram, ReloadsOnHangUpAndStopsOnTerminate)
{
    QTemporaryDir Dir;
    BlackHole Hole;
    sim::SimReader Kept, Added;
    const auto Write = [&](const QString& Text) {
        QFile File(Dir.filePath("agent.conf"));
        File.open(QIODevice::WriteOnly);
        File.write(Text.toUtf8());
    };
    const QString KeptDoor = QString("[kept]\nport = %1\n[gate]\nport = tcp://127.0.0.1:%2\n").arg(QString::fromStdString(Kept.PortName())).arg(Hole.Port());
    Write(KeptDoor);
    QProcess Agent;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert("RUNTIME_DIRECTORY", Dir.filePath("run"));
    Env.insert("STATE_DIRECTORY", Dir.path());
    Agent.setProcessEnvironment(Env);
    Agent.setProcessChannelMode(QProcess::MergedChannels);
    Agent.start(QStringLiteral(DORVIK_AGENT), {"--config", Dir.filePath("agent.conf")});
    ASSERT_TRUE(Kept.WaitForFrames(2, 10s)); // door settings, then the cards
    Write(KeptDoor + QString("[added]\nport = %1\n").arg(QString::fromStdString(Added.PortName())));
    ::kill(pid_t(Agent.processId()), SIGHUP);
    EXPECT_TRUE(Added.WaitForFrames(2, 10s));
    Pump(300ms);
    EXPECT_EQ(Kept.ReceivedFrames().size(), 2u);
    ::kill(pid_t(Agent.processId()), SIGTERM);
    ASSERT_TRUE(Agent.waitForFinished(10000));
    EXPECT_EQ(Agent.exitCode(), 0);
    const QString Said = QString::fromLocal8Bit(Agent.readAll());
    EXPECT_TRUE(Said.contains("<5>reloaded")) << Said.toStdString();
    EXPECT_TRUE(Said.contains("<5>stopping")) << Said.toStdString();
    EXPECT_FALSE(QFile::exists(Dir.filePath("run/doors")));
}

// A program drives a door through its socket as if it held the reader, while the agent logs the
// swipes; a second program is told the door is taken; the tty itself says who holds it.
TEST(AgentDoors, OneProgramAtATimeDrivesADoorThroughItsSocket)
{
    AgentBed Bed(1);
    qputenv("RUNTIME_DIRECTORY", Bed.Runtime().toLocal8Bit());
    sim::SimReader& Sim = *Bed.Readers[0];
    Sim.SetCards({Card(1), Card(2)});
    ASSERT_TRUE(WaitUntil([&] { return Sim.WaitForFrames(2, 0ms); }, 10s));
    Pump(300ms);
    const std::vector<TAgentDoor> Offered = AgentDoors();
    ASSERT_EQ(Offered.size(), 1u);
    EXPECT_EQ(Offered[0].Label(), "Door 0 (agent)");

    TDorvik Client;
    QStringList Seen;
    Client.OnTransferEnd = [&](QObject*) { Seen << QString("read %1").arg(Client.Tags().Count()); };
    Client.OnEndUpdate = [&](QObject*) { Seen << "written"; };
    Client.OnCardSwipe = [&](QObject*, TRfidTag& T) { Seen << QString("swipe %1").arg(T.CardValue()); };
    Client.SetPort(Offered[0].SocketPort());
    Client.Connect();
    Client.ReadDatabase();
    ASSERT_TRUE(WaitUntil([&] { return Seen.contains("read 2"); })) << Seen.join(", ").toStdString();
    Client.Tags().Add().Bytes = Card(3);
    Client.WriteDatabase();
    ASSERT_TRUE(WaitUntil([&] { return Seen.contains("written"); }));
    EXPECT_EQ(Sim.Cards(), (std::vector{Card(1), Card(2), Card(3)}));
    Sim.Swipe(Card(3));
    ASSERT_TRUE(WaitUntil([&] { return Seen.contains("swipe 3") && Bed.Swipes.size() == 1; }));

    const struct
    {
        QString Port;
        std::string Said;
    } Refused[] = {
        {Offered[0].SocketPort(), "the door is in use by another program"},
        {Bed.Path("tty0"), " is held by dorvik-agent (door Door 0): use unix:"},
    };
    for (const auto& R : Refused) {
        TDorvik Other;
        Other.SetPort(R.Port);
        try {
            Other.Connect();
            ADD_FAILURE() << R.Port.toStdString() << " opened";
        } catch (const EComPort& E) {
            const std::string Text = E.WinCode() == EBUSY ? HeldByAgentText(R.Port).toStdString() : E.what();
            EXPECT_NE(Text.find(R.Said), std::string::npos) << Text;
        }
    }

    // Let go: the agent reads the reader again, so its list knows the new card.
    Client.Disconnect();
    ASSERT_TRUE(WaitUntil([&] { return Sim.ReceivedFrames().back() == sim::Frame{0x42, 0x04, 0x02, 0xFF}; }));
    Pump(300ms);
    Sim.Swipe(Card(3));
    ASSERT_TRUE(WaitUntil([&] { return Bed.Swipes.size() == 2; }));
    EXPECT_TRUE(Bed.Swipes[1].Known);
    qunsetenv("RUNTIME_DIRECTORY");
}
