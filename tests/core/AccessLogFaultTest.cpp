// A log that cannot be written keeps its swipes in memory, says why naming the file, and writes
// them in order once it can; and a swipe reported as logged is in the file even when the
// program is killed at once.

#include "support/LogSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
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
    ASSERT_TRUE(Log.Record(Swipe)) << Log.Error().toStdString();
}

void SetPageLimit(TAccessLog& Log, const char* Limit)
{
    QSqlQuery(Log.Database()).exec(QStringLiteral("PRAGMA max_page_count = %1").arg(QString::fromLatin1(Limit)));
}

struct TFaultCase
{
    const char* What;
    std::function<void(const QString& Folder, const QString& Path)> Before; // the log opens after it
    std::function<void(TAccessLog& Log)> After;
    const char* Says;
    std::function<void(const QString& Folder, const QString& Path, TAccessLog& Log)> Mend;
};

TEST(AccessLogFaults, ASwipeTheFileCannotTakeIsKeptAndWrittenOnceItCan)
{
    const auto Nothing = [](auto&&...) {};
    const TFaultCase Cases[] = {
        {"read-only folder", [](const QString& Folder, const QString&) { SetMode(Folder, ReadOnly); }, Nothing,
         "cannot be created: its folder is read-only",
         [](const QString& Folder, const QString&, TAccessLog&) { SetMode(Folder, Writable); }},
        {"read-only file",
         [](const QString&, const QString& Path) {
             MakeLog(Path);
             SetMode(Path, QFile::ReadOwner);
         },
         Nothing, "is read-only",
         [](const QString& Folder, const QString&, TAccessLog&) {
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
         Nothing, "is damaged or not an access log",
         [](const QString&, const QString& Path, TAccessLog&) { QFile::rename(Path, Path + QStringLiteral(".bad")); }},
        {"full file", [](const QString&, const QString&) {}, [](TAccessLog& Log) { SetPageLimit(Log, "1"); },
         "is full", [](const QString&, const QString&, TAccessLog& Log) { SetPageLimit(Log, "1000000"); }},
    };
    for (const TFaultCase& Case : Cases) {
        SCOPED_TRACE(Case.What);
        QTemporaryDir Dir;
        const QString Folder = Dir.filePath(QStringLiteral("log"));
        const QString Path = Folder + QStringLiteral("/access.db");
        const TActAsNobody Nobody(Dir.path());
        ASSERT_TRUE(QDir().mkpath(Folder));
        Case.Before(Folder, Path);
        TAccessLog Log(Path);
        Case.After(Log);

        // A long name takes pages of its own, which a full file has no room for.
        TSwipeRecord Kept = TestSwipe(Start.addSecs(60), QStringLiteral("door"), 2, QString(5000, u'k'));
        EXPECT_FALSE(Log.Record(Kept));
        EXPECT_EQ(Log.Pending(), 1);
        const QString Error = Log.Error();
        EXPECT_TRUE(Error.startsWith(QStringLiteral("The access log ") + Path + u' ')) << Error.toStdString();
        EXPECT_TRUE(Error.contains(QString::fromLatin1(Case.Says))) << Error.toStdString();
        EXPECT_TRUE(Error.endsWith(QStringLiteral(": swipes are kept in memory until it can be written")))
            << Error.toStdString();

        Case.Mend(Folder, Path, Log);
        TSwipeRecord Next = TestSwipe(Start.addSecs(120), QStringLiteral("door"), 3);
        EXPECT_TRUE(Log.Record(Next)) << Log.Error().toStdString();
        EXPECT_EQ(Log.Pending(), 0);
        EXPECT_EQ(Log.Error(), QString());
        const std::vector<TSwipeRecord> Last = Log.Query({.Limit = 2});
        ASSERT_EQ(Last.size(), 2u);
        EXPECT_EQ(Last[0].Id, Next.Id);
        EXPECT_EQ(Last[1].Name.size(), 5000);
        EXPECT_EQ(Last[1].Id + 1, Next.Id);
    }
}

TEST(AccessLogFaults, ASwipeSaidToBeLoggedSurvivesTheProgramBeingKilled)
{
    QTemporaryDir Dir;
    const QString Path = Dir.filePath(QStringLiteral("access.db"));
    QProcess Writer;
    Writer.start(QStringLiteral(DORVIK_LOG_WRITER), {Path});
    std::vector<qint64> Said;
    while (Said.size() < 20 && Writer.waitForReadyRead(10000)) {
        while (Writer.canReadLine())
            Said.push_back(Writer.readLine().trimmed().split(' ').value(1).toLongLong());
    }
    Writer.kill(); // SIGKILL: no clean-up of any kind
    Writer.waitForFinished();
    ASSERT_GE(Said.size(), 20u);

    TAccessLog Log(Path);
    ASSERT_EQ(Log.Error(), QString());
    std::vector<qint64> Stored = SwipeIds(Log.Query({.Limit = 0}));
    std::reverse(Stored.begin(), Stored.end());
    ASSERT_GE(Stored.size(), Said.size());
    Stored.resize(Said.size());
    EXPECT_EQ(Stored, Said);
}

} // namespace
