// The agent keeps time for a reader without a clock: each door holds what its rules admit at
// every boundary, a refused swipe says why, a program driving the door and a clock that is not
// synchronized hold a change back, and a reader that was away gets its list when it returns.
// The clock is the test's, behind the agent's own seam.

#include "support/AgentBed.h"
#include "support/FakeClock.h"
#include "support/MosquittoBroker.h"
#include "support/MqttProbe.h"
#include "support/SimCards.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QTimeZone>

using namespace std::chrono_literals;

namespace {

const QTimeZone Berlin("Europe/Berlin");


QDateTime At(const char* Text)
{
    const QDateTime Local = QDateTime::fromString(QString::fromLatin1(Text), "yyyy-MM-dd HH:mm");
    return QDateTime(Local.date(), Local.time(), Berlin).toUTC();
}

std::vector<sim::CardBytes> CardsOf(std::initializer_list<uint32_t> Values)
{
    std::vector<sim::CardBytes> Result;
    for (uint32_t V : Values)
        Result.push_back(Card(V));
    return Result;
}

const char Site[] = "card,name,master,from,until,door-0\n"
                    "1,Ann,yes,,,yes\n"
                    "2,Dana,,,,cleaners\n"
                    "3,Evan,,,2026-12-15 18:30,yes\n"
                    "4,Finn,,2026-12-16,,yes\n";

const char Rules[] = "[site]\ntime-zone = Europe/Berlin\n[schedule cleaners]\ntue = 18:00-20:00\n";

QString SiteFile(const QTemporaryDir& Folder)
{
    QFile File(Folder.filePath("site.csv"));
    File.open(QIODevice::WriteOnly);
    File.write(Site);
    return "site-file = " + File.fileName();
}

TEST(AgentTime, EachDoorHoldsWhatItsRulesAdmitAtEveryBoundary)
{
    TFakeClock Clock(At("2026-12-15 17:59"), "Europe/Berlin");
    QTemporaryDir Folder;
    AgentBed Bed(1, SiteFile(Folder), Rules, {}, &Clock);
    sim::SimReader& Reader = *Bed.Readers[0];
    const auto Holds = [&](std::initializer_list<uint32_t> Values) {
        return WaitUntil([&] { return Reader.Cards() == CardsOf(Values) && Bed.Agent->Doors()[0]->Step() == TDoor::TStep::Idle; }, 10s);
    };
    const auto Said = [&](const char* Text) { return Bed.Said.filter(QString::fromUtf8(Text)).size(); };
    ASSERT_TRUE(Holds({1, 3}));

    const struct
    {
        const char* At;
        std::initializer_list<uint32_t> Holds;
        const char* Says;
    } Boundaries[] = {
        {"2026-12-15 18:00", {1, 2, 3}, "Door 0: 18:00: +Dana (cleaners)"},
        {"2026-12-15 18:30", {1, 2}, "Door 0: 18:30: -Evan (until 2026-12-15 18:30)"},
        {"2026-12-15 20:00", {1}, "Door 0: 20:00: -Dana (cleaners)"},
        {"2026-12-16 00:00", {1, 4}, "Door 0: 00:00: +Finn (from 2026-12-16)"},
    };
    for (const auto& B : Boundaries) {
        SCOPED_TRACE(B.At);
        EXPECT_EQ(Clock.Alarm(), At(B.At)); // one alarm, at the next boundary
        Clock.RunTo(At(B.At));
        EXPECT_TRUE(Holds(B.Holds)) << Bed.Said.join('\n').toStdString();
        EXPECT_EQ(Said(B.Says), 1) << Bed.Said.join('\n').toStdString();
    }

    // Why each card is refused goes with its swipe.
    const struct
    {
        uint32_t Card;
        const char* Reason;
    } Refused[] = {{2, "outside hours (cleaners)"}, {3, "expired 2026-12-15 18:30"}, {9, "not on the site list"}};
    for (const auto& R : Refused) {
        const size_t Before = Bed.Swipes.size();
        Reader.Swipe(Card(R.Card));
        ASSERT_TRUE(WaitUntil([&] { return Bed.Swipes.size() == Before + 1; }));
        EXPECT_FALSE(Bed.Swipes.back().Known);
        EXPECT_EQ(Bed.Swipes.back().Reason, R.Reason);
    }

    // A program drives the door: the change waits until it lets go.
    QLocalSocket Program;
    Program.connectToServer(Bed.Agent->Doors()[0]->SocketPath());
    ASSERT_TRUE(WaitUntil([&] { return Bed.Agent->Doors()[0]->Step() == TDoor::TStep::Relaying; }));
    Clock.RunTo(At("2026-12-22 18:00"));
    Pump(300ms);
    EXPECT_EQ(Reader.Cards(), CardsOf({1, 4}));
    Program.disconnectFromServer();
    EXPECT_TRUE(Holds({1, 2, 4}));

    // A clock the system does not call synchronized takes no card away; once it is, the rules apply.
    Clock.SetSync(TClockSync::Unsynchronized);
    Clock.RunTo(At("2026-12-22 20:00"));
    Pump(300ms);
    EXPECT_EQ(Reader.Cards(), CardsOf({1, 2, 4}));
    EXPECT_EQ(Said("the system's clock is not synchronized"), 1);
    Clock.SetSync(TClockSync::Synchronized);
    Clock.SetWallClock(At("2026-12-22 20:01"));
    EXPECT_TRUE(Holds({1, 4}));

    // A reader away at a boundary gets its list when it is back.
    Reader.HangUp();
    Clock.RunTo(At("2026-12-29 18:00"));
    Bed.Replug(0);
    EXPECT_TRUE(WaitUntil([&] { return Bed.Readers[0]->Cards() == CardsOf({1, 2, 4}); }, 15s));
}

// Each door's next change is retained on the bus, and changes as the boundaries pass.
TEST(AgentTime, EachDoorsNextChangeIsOnTheBus)
{
    MosquittoBroker Broker;
    if (MosquittoBroker::Program().isEmpty() || !Broker.Start())
        GTEST_SKIP() << "mosquitto is not installed";
    MqttProbe Probe(Broker.Port(), QStringLiteral("#"));
    ASSERT_TRUE(WaitUntil([&] { return Probe.Subscribed(); }));
    TFakeClock Clock(At("2026-12-15 17:59"), "Europe/Berlin");
    QTemporaryDir Folder;
    AgentBed Bed(1, SiteFile(Folder), Rules + QStringLiteral("[mqtt]\nhost = 127.0.0.1\nport = %1\n").arg(Broker.Port()), {}, &Clock);
    const auto Next = [&] { return QJsonDocument::fromJson(Probe.Last("dorvik/door-0/next")).object(); };
    ASSERT_TRUE(WaitUntil([&] { return Next().value("time") == "2026-12-15T17:00:00.000Z"; }, 10s)) << Probe.Last("dorvik/door-0/next").toStdString();
    EXPECT_EQ(Next().value("added").toArray(), QJsonArray{"Dana"});
    EXPECT_EQ(Next().value("text").toString(), "2026-12-15 18:00: +Dana (cleaners)");
    Clock.RunTo(At("2026-12-15 18:00"));
    EXPECT_TRUE(WaitUntil([&] { return Next().value("time") == "2026-12-15T17:30:00.000Z"; }));
    EXPECT_EQ(Next().value("removed").toArray(), QJsonArray{"Evan"});
}

// --check reads each site file as the agent will: its problems with their lines, or each door's
// list now and its next change.
TEST(AgentTime, CheckNamesASiteFilesProblemsByLineOrSaysEachDoorsList)
{
    const struct
    {
        QByteArray Site;
        int Status;
        const char* Says;
    } Cases[] = {
        {Site, 0, "  [door-0] now "},
        {QByteArray(Site) + "5,Gus,,,,night\n", 1, "site.csv:6: "},
        {"card,name,master,back-door\n1,Ann,yes,yes\n", 1, "site.csv:1: "},
    };
    for (const auto& C : Cases) {
        QTemporaryDir Folder;
        QFile File(Folder.filePath("site.csv"));
        ASSERT_TRUE(File.open(QIODevice::WriteOnly) && File.write(C.Site) > 0);
        File.close();
        QFile Config(Folder.filePath("agent.conf"));
        ASSERT_TRUE(Config.open(QIODevice::WriteOnly));
        Config.write("[door-0]\nport = /dev/null\nsite-file = site.csv\n" + QByteArray(Rules));
        Config.close();
        QProcess Check;
        Check.start(QStringLiteral(DORVIK_AGENT), {"--config", Config.fileName(), "--check"});
        ASSERT_TRUE(Check.waitForFinished(10000));
        const QString Said = QString::fromUtf8(Check.readAllStandardOutput());
        EXPECT_EQ(Check.exitCode(), C.Status) << Said.toStdString();
        EXPECT_TRUE(Said.contains(QString::fromUtf8(C.Says))) << Said.toStdString();
    }
}

} // namespace
