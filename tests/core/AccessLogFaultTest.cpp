// A log that cannot be written keeps its swipes in memory, says why naming the file, and writes
// them in order once it can, never holding up the program that records; what is left at the
// end waits beside the log until a program takes it in, once; a swipe reported as logged is in
// the file even when the program is killed at once; and who may read the file.

#include "core/CliProgram.h"
#include "sim/SimReader.h"
#include "support/LogSupport.h"
#include "support/SimCards.h"

#include "log/SqlCall.h"
#include "log/SwipeWriter.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>

#include <sys/stat.h>

using namespace std::chrono_literals;

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

// Swipes wait while another program holds the lock; what is left at close goes beside the log,
// and the next program to record there takes it in first, in order, and only once.
TEST(AccessLogFaults, ALockedLogHoldsNoOneAndWhatItCouldNotTakeWaitsBesideItUntilTakenInOnce)
{
    QTemporaryDir Dir;
    const QString Path = Dir.filePath(QStringLiteral("access.db"));
    const QString Side = PendingFilePath(Path);
    MakeLog(Path);
    {
        TAccessLog Log(Path, TAccessLog::TUse::Record);
        std::vector<TSwipeRecord> Held;
        QObject::connect(&Log, &TAccessLog::Held, [&](const std::vector<TSwipeRecord>& S) { Held.insert(Held.end(), S.begin(), S.end()); });
        TLogLock Lock(Path);
        ASSERT_TRUE(Lock.Held());
        for (uint32_t Card = 10; Card < 13; ++Card)
            Log.Record(TestSwipe(Start.addSecs(Card), QStringLiteral("door"), Card));
        ASSERT_TRUE(WaitUntil([&] { return Held.size() == 3; }, 10s));
        EXPECT_TRUE(Log.Error().contains(QStringLiteral("is locked by another program"))) << Log.Error().toStdString();
        const TLogClosing Closing = Log.Close();
        EXPECT_EQ(Closing.SetAside, 3);
    }
    struct stat Info {};
    ASSERT_EQ(::stat(QFile::encodeName(Side).constData(), &Info), 0);
    EXPECT_EQ(Info.st_mode & 0777, 0600u);
    const QByteArray Kept = FileBytes(Side);
    const auto TakeIn = [&] {
        TAccessLog Log(Path, TAccessLog::TUse::Record);
        return WaitUntil([&] { return Log.Database().isOpen(); }) ? Log.Query({.Limit = 0}) : std::vector<TSwipeRecord>{};
    };
    std::vector<TSwipeRecord> Rows = TakeIn();
    ASSERT_EQ(Rows.size(), 4u);
    EXPECT_EQ(SwipeCardValue(Rows[0]), 12u);
    EXPECT_EQ(SwipeCardValue(Rows[2]), 10u);
    EXPECT_EQ(Rows[0].Id, Rows[2].Id + 2);
    EXPECT_FALSE(QFile::exists(Side));

    // A program that stopped after taking it in, before removing it; and one that dropped swipes
    // for room: the count outlives the memory it was kept in.
    QFile Again(Side);
    ASSERT_TRUE(Again.open(QIODevice::WriteOnly));
    Again.write(Kept + "{\"segment\":\"later\"}\n{\"dropped\":2}\n");
    Again.close();
    EXPECT_EQ(TakeIn().size(), 4u);
    EXPECT_FALSE(QFile::exists(Side));
    const CliRun Status = RunCli({"log", "--db", Path, "--status"});
    EXPECT_TRUE(Status.Out.contains(QStringLiteral("Swipes:     4\n"))) << Status.Out.toStdString();
    EXPECT_TRUE(Status.Out.contains(QStringLiteral("Dropped:    2 swipes"))) << Status.Out.toStdString();
}

// `watch --log` prints a swipe the log could not take marked as such, and again once written;
// stopped (a closed terminal: SIGHUP) with one still waiting, it says where it went.
TEST(AccessLogFaults, WatchMarksASwipeNotLoggedYetAndSaysWhereOneLeftAtTheEndWaits)
{
    QTemporaryDir Dir;
    const QString Path = Dir.filePath(QStringLiteral("access.db"));
    MakeLog(Path);
    sim::SimReader Reader;
    QProcess Watch;
    Watch.start(CliPath(), {"watch", QString::fromStdString(Reader.PortName()), "--log", Path, "--format", "json"});
    ASSERT_TRUE(Reader.WaitForFrames(2, std::chrono::seconds(10)));
    std::vector<QJsonObject> Said;
    const auto SaidNext = [&] {
        while (!Watch.canReadLine() && Watch.waitForReadyRead(10000)) {
        }
        Said.push_back(QJsonDocument::fromJson(Watch.readLine()).object());
        return Said.back();
    };
    auto Lock = std::make_unique<TLogLock>(Path);
    ASSERT_TRUE(Lock->Held());
    Reader.Swipe(Card(5));
    EXPECT_FALSE(SaidNext()["logged"].toBool(true));
    EXPECT_EQ(Said.back()["id"].toInteger(), 0);
    Lock.reset();
    EXPECT_TRUE(SaidNext()["logged"].toBool());
    EXPECT_EQ(Said.back()["value"].toInteger(), 5);
    EXPECT_EQ(Said.back()["id"].toInteger(), 2);

    Lock = std::make_unique<TLogLock>(Path);
    Reader.Swipe(Card(6));
    EXPECT_FALSE(SaidNext()["logged"].toBool(true));
    ::kill(pid_t(Watch.processId()), SIGHUP);
    ASSERT_TRUE(Watch.waitForFinished(15000));
    EXPECT_EQ(Watch.exitCode(), 1);
    EXPECT_TRUE(QString::fromUtf8(Watch.readAllStandardError())
                    .contains(QStringLiteral("1 swipes could not be written to the access log %1; they wait in %2")
                                  .arg(Path, PendingFilePath(Path))));
}

// A person's own log is theirs alone whatever the umask; the agent's is also its group's.
TEST(AccessLogFiles, APersonsLogIsTheirsAndTheAgentsAlsoItsGroups)
{
    const struct
    {
        TLogSharing Sharing;
        mode_t Folder, File;
    } Cases[] = {{TLogSharing::Private, 0700, 0600}, {TLogSharing::Group, 0750, 0640}};
    const mode_t Umask = ::umask(022);
    for (const auto& Case : Cases) {
        QTemporaryDir Dir;
        const QString Path = Dir.filePath(QStringLiteral("state/dorvik/access.db"));
        TAccessLog Log(Path, TAccessLog::TUse::Record, Case.Sharing);
        TSwipeRecord Swipe = TestSwipe(Start, QStringLiteral("door"), 1);
        ASSERT_TRUE(Log.Commit(Swipe));
        for (const QString& Name : {Path, Path + "-wal", Path + "-shm", QFileInfo(Path).absolutePath()}) {
            struct stat Info {};
            ASSERT_EQ(::stat(QFile::encodeName(Name).constData(), &Info), 0) << Name.toStdString();
            EXPECT_EQ(Info.st_mode & 0777, S_ISDIR(Info.st_mode) ? Case.Folder : Case.File) << Name.toStdString();
        }
    }
    ::umask(Umask);
}

// Rows go a batch at a time, however many there are, and their names with the last of them.
TEST(AccessLogFiles, PruningRemovesEveryOldRowBatchByBatch)
{
    QTemporaryDir Dir;
    TAccessLog Log(Dir.filePath(QStringLiteral("access.db")));
    {
        TTransaction All(Log.Database());
        TSwipeWriter Writer(Log.Database());
        for (int I = 0; I < 4500; ++I) {
            TSwipeRecord Old = TestSwipe(Start.addSecs(I), QStringLiteral("door"), uint32_t(I), QStringLiteral("Old %1").arg(I % 7));
            Writer.Write(Old);
        }
        All.Commit();
    }
    TSwipeRecord New = TestSwipe(QDateTime::currentDateTimeUtc(), QStringLiteral("door"), 1, QStringLiteral("New"));
    ASSERT_TRUE(Log.Commit(New));
    int Removed = -2;
    QObject::connect(&Log, &TAccessLog::Pruned, [&](int Count) { Removed = Count; });
    Log.Prune(QDateTime::currentDateTimeUtc().addDays(-1));
    ASSERT_TRUE(WaitUntil([&] { return Removed != -2; }, 30s));
    EXPECT_EQ(Removed, 4500);
    EXPECT_EQ(SwipeIds(Log.Query({.Limit = 0})), std::vector<qint64>{New.Id});
    QSqlQuery Names = Exec(Log.Database(), QStringLiteral("SELECT Name FROM Names"));
    ASSERT_TRUE(Names.next());
    EXPECT_EQ(Names.value(0).toString(), "New");
    EXPECT_FALSE(Names.next());
}

} // namespace
