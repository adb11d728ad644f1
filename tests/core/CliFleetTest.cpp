// dorvik-cli sync and diff against several simulated readers, one of them behind ser2net.

#include "core/CliProgram.h"
#include "sim/SimReader.h"
#include "support/BlackHole.h"
#include "support/Ser2netServer.h"
#include "support/SimCards.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QTemporaryDir>

TEST(CliFleet, SyncWritesEveryReaderAndOneThatFailsFailsAlone)
{
    if (Ser2netServer::Program().isEmpty())
        GTEST_SKIP() << "ser2net not found: install the ser2net package (listed in scripts/deps)";
    QTemporaryDir Dir;
    const QString File = Dir.filePath("site.tdb");
    WriteCardFile(File, {{Card(11), "A"}, {Card(0xFFFFFFFFu, 0xFF), "B"}, {Card(33), "C"}}, 1);
    sim::SimReader Near, Far;
    Ser2netServer Server(QString::fromStdString(Far.PortName()), true);
    ASSERT_TRUE(Server.Listening()) << Server.Output().toStdString();
    const QString Nowhere = QString("tcp://127.0.0.1:%1").arg(Ser2netServer::FreePort());
    const CliRun R = RunCli({"sync", File, QString::fromStdString(Near.PortName()), Server.Url(), Nowhere, "--format", "json"});
    EXPECT_EQ(R.Status, 1) << R.Err.toStdString();
    EXPECT_TRUE(R.Err.contains("failed on " + Nowhere)) << R.Err.toStdString();
    const QJsonArray Rows = QJsonDocument::fromJson(R.Out.toUtf8()).array();
    ASSERT_EQ(Rows.size(), 3) << R.Out.toStdString();
    for (int I : {0, 1}) {
        EXPECT_TRUE(Rows[I]["ok"].toBool()) << R.Out.toStdString();
        EXPECT_EQ(Rows[I]["cards"].toInt(), 3);
        EXPECT_EQ(Rows[I]["master"].toInt(), 1);
    }
    EXPECT_FALSE(Rows[2]["ok"].toBool());
    EXPECT_TRUE(Rows[2]["error"].toString().contains("connection refused")) << R.Out.toStdString();
    for (const sim::SimReader* S : {&Near, &Far}) {
        EXPECT_EQ(S->Cards(), (std::vector<sim::CardBytes>{Card(11), Card(0xFFFFFFFFu, 0xFF), Card(33)}));
        EXPECT_EQ(S->Master(), 1);
    }
}

TEST(CliFleet, UnreachableReadersAreWaitedForSideBySide)
{
    QTemporaryDir Dir;
    const QString File = Dir.filePath("site.tdb");
    WriteCardFile(File, {{Card(11), "A"}});
    BlackHole Hole;
    const QString Nowhere = QString("tcp://127.0.0.1:%1").arg(Hole.Port());
    QElapsedTimer Clock;
    Clock.start();
    const CliRun R = RunCli({"sync", File, Nowhere, Nowhere, Nowhere, Nowhere, "--format", "json"});
    EXPECT_LT(Clock.elapsed(), 12000) << "four bounds of 5 s one after another";
    EXPECT_EQ(R.Status, 1) << R.Err.toStdString();
    const QJsonArray Rows = QJsonDocument::fromJson(R.Out.toUtf8()).array();
    ASSERT_EQ(Rows.size(), 4) << R.Out.toStdString();
    for (const auto& Row : Rows)
        EXPECT_TRUE(Row.toObject()["error"].toString().endsWith("no answer to the connection request within 5 s")) << R.Out.toStdString();
}

TEST(CliFleet, DiffNamesTheCardsOnOneSideOnlyAndTheMaster)
{
    QTemporaryDir Dir;
    const QString File = Dir.filePath("site.tdb");
    WriteCardFile(File, {{Card(11), "A"}, {Card(22), "B"}}, 0);
    sim::SimReader Sim;
    const QString Port = QString::fromStdString(Sim.PortName());
    const struct
    {
        std::vector<sim::CardBytes> Held;
        uint8_t Master;
        int Status;
        int OnlyReader, OnlyFile;
        bool MasterDiffers;
    } Cases[] = {
        {{Card(22), Card(11)}, 1, 0, 0, 0, false}, // order does not count, the master card does
        {{Card(11), Card(33)}, 1, 1, 1, 1, true},
        {{}, 0, 1, 0, 2, true},
    };
    for (const auto& C : Cases) {
        Sim.SetCards(C.Held);
        Sim.SetMaster(C.Master);
        const CliRun R = RunCli({"diff", Port, File, "--format", "json"});
        EXPECT_EQ(R.Status, C.Status) << R.Out.toStdString() << R.Err.toStdString();
        const QJsonObject D = QJsonDocument::fromJson(R.Out.toUtf8()).object();
        EXPECT_EQ(D["onlyOnReader"].toArray().size(), C.OnlyReader);
        EXPECT_EQ(D["onlyInFile"].toArray().size(), C.OnlyFile);
        EXPECT_EQ(D["master"]["differs"].toBool(), C.MasterDiffers);
        EXPECT_EQ(D["equal"].toBool(), C.Status == 0);
    }
    EXPECT_EQ(RunCli({"diff", "/dev/no-such-reader", File}).Status, 2);
}
