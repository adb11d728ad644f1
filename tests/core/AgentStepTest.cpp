// dorvik-agent's doors step by step: a reload or a signal never cuts into a step, every step
// ends, a program on a door's socket holds up nothing else, a swipe is judged by the list the
// reader holds, and a site file is written whole.

#include "cards/CardDatabaseFile.h"
#include "log/AccessLog.h"
#include "reader/Protocol.h"
#include "support/AgentBed.h"
#include "support/Ser2netServer.h"
#include "support/SimCards.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QLocalSocket>

#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// A site file's bytes: the cards of Values, unnamed.
QByteArray SiteBytes(const std::vector<sim::CardBytes>& Values)
{
    TRfidTags Tags;
    for (const auto& Bytes : Values)
        Tags.Add().Bytes = Bytes;
    QBuffer Buffer;
    Buffer.open(QIODevice::WriteOnly);
    SaveCardDatabase(Buffer, Tags, {0, 0, 5});
    return Buffer.data();
}

// The reader has been asked for its door settings and its cards, with the loop running.
bool Asked(const sim::SimReader& Reader) { return WaitUntil([&] { return Reader.WaitForFrames(2, 0ms); }, 10s); }

bool WriteFile(const QString& Name, const QByteArray& Bytes)
{
    QFile File(Name);
    return File.open(QIODevice::WriteOnly) && File.write(Bytes) == Bytes.size();
}

} // namespace

// A reload that changes a door while it writes its site file: the write ends whole, then the door
// is replaced; a changed [log] path is said and not taken.
TEST(AgentSteps, AChangedDoorIsReplacedOnlyOnceItsWriteHasEnded)
{
    AgentBed Bed(1, "site-file = SITE");
    sim::SimReader& Sim = *Bed.Readers[0];
    ASSERT_TRUE(Asked(Sim));
    Sim.SetReplyDelay(10ms);
    const std::vector<sim::CardBytes> Site = Cards(100);
    ASSERT_TRUE(WriteFile(Bed.Path("SITE"), SiteBytes(Site)));
    ASSERT_TRUE(WaitUntil([&] { return Bed.FramesOf(0, protocol::fcUpdateCard) > 10; }, 10s));

    Bed.Configure(QStringLiteral("[door-0]\nname = Door A\nport = %1\nsite-file = SITE\n[log]\npath = other.db\n").arg(Bed.Path("tty0")).toUtf8());
    Bed.Agent->Reload();
    ASSERT_TRUE(WaitUntil([&] {
        return Sim.Cards() == Site && Bed.Agent->Doors().size() == 1 && Bed.Agent->Doors()[0]->Config().Name == "Door A" &&
               Bed.Agent->Doors()[0]->Step() == TDoor::TStep::Idle;
    }, 20s)) << Bed.Said.join('\n').toStdString();
    EXPECT_EQ(Bed.FramesOf(0, protocol::fcBeginUpdate), 1u) << "the write was cut and made again";
    EXPECT_TRUE(Bed.Agent->LogPath().endsWith("/access.db"));

    Sim.Swipe(Site[3]);
    ASSERT_TRUE(WaitUntil([&] { return Bed.Swipes.size() == 1; }));
    EXPECT_TRUE(Bed.Swipes[0].Known);
    EXPECT_EQ(TAccessLog(Bed.Path("access.db")).Query({}).at(0).Door, "Door A");
}

// While the reader sends its list again (after every connect), the cards it held are known.
TEST(AgentSteps, ACardTheReaderHoldsIsKnownWhileItsListIsReadAgain)
{
    AgentBed Bed(1);
    Bed.Readers[0]->SetCards({Card(5), Card(6)});
    ASSERT_TRUE(Asked(*Bed.Readers[0]));
    Pump(300ms);
    Bed.Replug(0);
    sim::SimReader& Sim = *Bed.Readers[0];
    Sim.SetAnswerLimit(1); // its door settings, then only what the test sends
    ASSERT_TRUE(Asked(Sim));
    Sim.SendRaw(sim::MakeFrame(protocol::fcTransferBegin, {0}));
    Pump(300ms);
    Sim.Swipe(Card(6));
    ASSERT_TRUE(WaitUntil([&] { return Bed.Swipes.size() == 1; }));
    EXPECT_TRUE(Bed.Swipes[0].Known);
}

// Door 0 behind a network server that stops reading, a program flooding it: door 1's swipes are
// logged meanwhile, and the program is let go once its backlog passes the bound.
TEST(AgentSteps, AProgramFloodingItsDoorIsLetGoAndDelaysNoOtherDoor)
{
    if (Ser2netServer::Program().isEmpty())
        GTEST_SKIP() << "ser2net not found: install the ser2net package (listed in scripts/deps)";
    std::unique_ptr<Ser2netServer> Server;
    AgentBed Bed(2, {}, {}, [&](int Door, sim::SimReader& Reader) {
        if (Door == 1)
            return QString();
        Server = std::make_unique<Ser2netServer>(QString::fromStdString(Reader.PortName()), false);
        return Server->Url();
    });
    for (auto& R : Bed.Readers)
        ASSERT_TRUE(Asked(*R));
    Pump(300ms);
    Server->Pause(true);
    QLocalSocket Flood;
    bool Dropped = false;
    QObject::connect(&Flood, &QLocalSocket::disconnected, [&] { Dropped = true; });
    const QByteArray Chunk(64 * 1024, '\x42');
    const auto Feed = [&] {
        while (!Dropped && Flood.state() == QLocalSocket::ConnectedState && Flood.bytesToWrite() < 1024 * 1024)
            Flood.write(Chunk);
    };
    QObject::connect(&Flood, &QLocalSocket::bytesWritten, Feed);
    Flood.connectToServer(Bed.Agent->Doors()[0]->SocketPath());
    ASSERT_TRUE(WaitUntil([&] { return Flood.canReadLine(); })); // the door is the program's
    Feed();
    Bed.Readers[1]->Swipe(Card(9));
    EXPECT_TRUE(WaitUntil([&] { return Bed.Swipes.size() == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return Dropped; }, 60s));
    EXPECT_FALSE(Bed.Said.filter("sent more than the reader takes").isEmpty()) << Bed.Said.join('\n').toStdString();
    Server->Pause(false);
}

// The site file is written only once it is stable (a writer that pauses midway gives no shorter
// list), and written again after a write the reader broke off.
TEST(AgentSteps, ASiteFileIsWrittenWholeOnceStableAndAgainAfterAFailedWrite)
{
    const std::vector<sim::CardBytes> Site = {Card(5), Card(6), Card(7)};
    const QByteArray Bytes = SiteBytes(Site);
    const struct
    {
        const char* What;
        std::function<void(AgentBed&)> Write;
        size_t Writes;
    } Cases[] = {
        {"written in place, pausing after its first card",
         [&](AgentBed& Bed) {
             QFile File(Bed.Path("SITE"));
             ASSERT_TRUE(File.open(QIODevice::WriteOnly));
             File.write(Bytes.left(CardDatabaseHeaderSize + 9));
             File.flush();
             Pump(600ms);
             File.write(Bytes.mid(CardDatabaseHeaderSize + 9));
         },
         1},
        {"the reader falls silent during the first write",
         [&](AgentBed& Bed) {
             Bed.Readers[0]->SetAnswerLimit(2);
             ASSERT_TRUE(WriteFile(Bed.Path("SITE"), Bytes));
             ASSERT_TRUE(WaitUntil([&] { return !Bed.Said.filter("failed").isEmpty(); }, 20s));
             Bed.Readers[0]->SetAnswerLimit(-1);
         },
         2},
    };
    for (const auto& C : Cases) {
        AgentBed Bed(1, "site-file = SITE");
        ASSERT_TRUE(Asked(*Bed.Readers[0]));
        Pump(300ms);
        C.Write(Bed);
        EXPECT_TRUE(WaitUntil([&] { return Bed.Readers[0]->Cards() == Site; }, 20s)) << C.What;
        Pump(1500ms); // a later write would show now
        EXPECT_EQ(Bed.FramesOf(0, protocol::fcBeginUpdate), C.Writes) << C.What << "\n" << Bed.Said.join('\n').toStdString();
    }
}

// The runtime folder is the agent's own and others may not write it; the doors file in it is
// readable by all, whatever the umask.
TEST(AgentSteps, ARuntimeFolderNotItsOwnIsRefusedAndTheDoorsFileIsReadableByAll)
{
    const struct
    {
        uid_t Owner;
        mode_t Mode;
        bool Refused;
    } Cases[] = {{65534, 0755, true}, {::geteuid(), 0777, true}, {::geteuid(), 0755, false}};
    sim::SimReader Reader;
    for (const auto& C : Cases) {
        QTemporaryDir Dir;
        const QByteArray Run = QFile::encodeName(Dir.filePath("run"));
        ASSERT_EQ(::mkdir(Run.constData(), C.Mode), 0);
        ASSERT_EQ(::chmod(Run.constData(), C.Mode), 0);
        ASSERT_EQ(::chown(Run.constData(), C.Owner, gid_t(-1)), 0);
        ASSERT_TRUE(WriteFile(Dir.filePath("agent.conf"), QStringLiteral("[door]\nport = %1\n").arg(QString::fromStdString(Reader.PortName())).toUtf8()));
        const mode_t Umask = ::umask(027);
        TAgent Agent(Dir.filePath("agent.conf"), Dir.filePath("run"), Dir.path());
        try {
            Agent.Start();
            EXPECT_FALSE(C.Refused) << C.Mode;
            struct stat Doors{};
            EXPECT_EQ(::stat(QFile::encodeName(Dir.filePath("run/doors")).constData(), &Doors), 0);
            EXPECT_EQ(Doors.st_mode & 0777, 0644u);
        } catch (const std::exception& E) {
            EXPECT_TRUE(C.Refused) << E.what();
            EXPECT_NE(std::string(E.what()).find("is not this user's own"), std::string::npos) << E.what();
        }
        ::umask(Umask);
    }
}
