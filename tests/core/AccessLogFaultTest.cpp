// A log that cannot be written keeps its swipes in memory, says why naming the file, and writes
// them in order once it can; and a swipe reported as logged is in the file even when the
// program is killed at once.

#include "core/CliProgram.h"
#include "sim/SimReader.h"
#include "support/LogSupport.h"
#include "support/SimCards.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>

namespace {

const QDateTime Start = QDateTime::fromString(QStringLiteral("2024-05-01T08:00:00Z"), Qt::ISODate);

void SetMode(const QString& Path, QFile::Permissions Mode) { ASSERT_TRUE(QFile::setPermissions(Path, Mode)); }

constexpr QFile::Permissions ReadOnly = QFile::ReadOwner | QFile::ExeOwner;
constexpr QFile::Permissions Writable = ReadOnly | QFile::WriteOwner;

void MakeLog(const QString& Path)
{
    TAccessLog Log(Path);
    TSwipeRecord Swipe = TestSwipe(Start, QStringLiteral("door"), 1);
    ASSERT_TRUE(Log.Commit(Swipe)) << Log.Error().toStdString();
}

struct TFaultCase
{
    const char* What;
    std::function<void(const QString& Folder, const QString& Path)> Before; // the log opens after it
    const char* Says;
    std::function<void(const QString& Folder, const QString& Path)> Mend;
};

TEST(AccessLogFaults, ASwipeTheFileCannotTakeIsKeptAndWrittenOnceItCan)
{
    QTemporaryDir Root;
    SetMode(Root.path(), ReadOnly | QFile::ExeOther); // nobody passes through to the disk
    TSmallDisk Disk(Root.filePath(QStringLiteral("small")));
    const TFaultCase Cases[] = {
        {"read-only folder", [](const QString& Folder, const QString&) { SetMode(Folder, ReadOnly); },
         "cannot be created: its folder is read-only",
         [](const QString& Folder, const QString&) { SetMode(Folder, Writable); }},
        {"read-only file",
         [](const QString&, const QString& Path) {
             MakeLog(Path);
             SetMode(Path, QFile::ReadOwner);
         },
         "is read-only",
         [](const QString& Folder, const QString&) {
             // SQLite gave its -wal and -shm files the mode of the database.
             for (const QString& File : QDir(Folder).entryList(QDir::Files))
                 SetMode(Folder + u'/' + File, QFile::ReadOwner | QFile::WriteOwner);
         }},
        {"damaged file",
         [](const QString&, const QString& Path) {
             QFile File(Path);
             ASSERT_TRUE(File.open(QIODevice::WriteOnly));
             File.write(QByteArray(8192, 'x'));
         },
         "is damaged or not an access log (move it away with", [](const QString&, const QString& Path) {
             for (const char* Suffix : {"", "-wal", "-shm"})
                 QFile::rename(Path + Suffix, Path + Suffix + QStringLiteral(".bad"));
         }},
        {"full disk",
         [&](const QString&, const QString& Path) {
             MakeLog(Path);
             Disk.Fill();
         },
         "is full", [&](const QString&, const QString&) { Disk.Free(); }},
    };
    for (const TFaultCase& Case : Cases) {
        SCOPED_TRACE(Case.What);
        const bool OnSmallDisk = std::string(Case.What) == "full disk";
        if (OnSmallDisk && !Disk.Mounted())
            continue; // only root mounts a disk
        QTemporaryDir Dir;
        const QString Folder = OnSmallDisk ? Root.filePath(QStringLiteral("small/log")) : Dir.filePath(QStringLiteral("log"));
        const QString Path = Folder + QStringLiteral("/access.db");
        const TActAsNobody Nobody(OnSmallDisk ? Root.filePath(QStringLiteral("small")) : Dir.path());
        ASSERT_TRUE(QDir().mkpath(Folder));
        Case.Before(Folder, Path);
        TAccessLog Log(Path);

        // A long name takes pages of its own, which a full disk has no room for.
        TSwipeRecord Kept = TestSwipe(Start.addSecs(60), QStringLiteral("door"), 2, QString(5000, u'k'));
        EXPECT_FALSE(Log.Commit(Kept));
        EXPECT_EQ(Log.Pending(), 1);
        const QString Error = Log.Error();
        EXPECT_TRUE(Error.startsWith(QStringLiteral("The access log ") + Path + u' ')) << Error.toStdString();
        EXPECT_TRUE(Error.contains(QString::fromLatin1(Case.Says))) << Error.toStdString();
        EXPECT_TRUE(Error.endsWith(QStringLiteral(": swipes are kept in memory until it can be written")))
            << Error.toStdString();

        Case.Mend(Folder, Path);
        TSwipeRecord Next = TestSwipe(Start.addSecs(120), QStringLiteral("door"), 3);
        EXPECT_TRUE(Log.Commit(Next)) << Log.Error().toStdString();
        EXPECT_EQ(Log.Pending(), 0);
        EXPECT_EQ(Log.Error(), QString());
        const std::vector<TSwipeRecord> Last = Log.Query({.Limit = 2});
        ASSERT_EQ(Last.size(), 2u);
        EXPECT_EQ(Last[0].Id, Next.Id);
        EXPECT_EQ(Last[1].Name.size(), 5000);
        EXPECT_EQ(Last[1].Id + 1, Next.Id);
    }
}

// `watch --log` prints a swipe only once it is in the log: killed right after, it has lost none,
// and each row carries the name of the names file and the door.
TEST(AccessLogFaults, ASwipeWatchPrintedSurvivesWatchBeingKilled)
{
    QTemporaryDir Dir;
    const QString Path = Dir.filePath(QStringLiteral("access.db"));
    const QString Names = Dir.filePath(QStringLiteral("names.tdb"));
    WriteCardFile(Names, {{Card(7), "Seven"}});
    sim::SimReader Reader;
    Reader.SetCards({Card(7)});
    QProcess Watch;
    Watch.start(CliPath(), {"watch", QString::fromStdString(Reader.PortName()), "--door", "Front door", "--names", Names,
                            "--log", Path, "--format", "json"});
    ASSERT_TRUE(Reader.WaitForFrames(2, std::chrono::seconds(10))); // it asked for the door and the cards
    std::vector<QJsonObject> Said;
    for (uint32_t Value = 1; Value <= 12; ++Value) {
        Reader.Swipe(Card(Value));
        if (!Watch.waitForReadyRead(10000))
            break;
        while (Watch.canReadLine())
            Said.push_back(QJsonDocument::fromJson(Watch.readLine()).object());
    }
    Watch.kill(); // SIGKILL: no clean-up of any kind
    Watch.waitForFinished();
    ASSERT_GE(Said.size(), 12u) << Watch.readAllStandardError().toStdString();
    EXPECT_EQ(Said[6]["name"].toString(), "Seven");
    EXPECT_TRUE(Said[6]["known"].toBool());
    EXPECT_EQ(Said[0]["door"].toString(), "Front door");

    TAccessLog Log(Path);
    ASSERT_EQ(Log.Error(), QString());
    std::vector<qint64> Stored = SwipeIds(Log.Query({.Limit = 0}));
    std::reverse(Stored.begin(), Stored.end());
    std::vector<qint64> Printed;
    for (const QJsonObject& S : Said)
        Printed.push_back(S["id"].toInteger());
    EXPECT_EQ(Stored, Printed);
    EXPECT_EQ(Log.Query({.Card = "7"}).at(0).Name, "Seven");
}

} // namespace
