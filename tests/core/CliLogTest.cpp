// dorvik-cli log: picking swipes by relative and ISO times, card and name; the three formats;
// pruning; the default file; and what it says about a log that is not there.

#include "core/CliProgram.h"
#include "support/LogSupport.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace {

struct TCliLogCase
{
    QStringList Args; // after "log --db FILE"
    int Status;
    int Lines; // printed on stdout
    const char* Shows; // in stdout, or in stderr when the status is not 0
};

TEST(CliLog, ListsPicksFormatsAndPrunesTheSwipes)
{
    QTemporaryDir Dir;
    const QString Path = Dir.filePath(QStringLiteral("dorvik/access.db"));
    const QDateTime Now = QDateTime::currentDateTimeUtc();
    const QDateTime Old = QDateTime::fromString(QStringLiteral("2024-05-01T08:00:00.250Z"), Qt::ISODateWithMs);
    {
        TAccessLog Log(Path);
        std::vector<TSwipeRecord> Swipes{TestSwipe(Old, QStringLiteral("front"), 5, QString::fromUtf8("Zoë")),
                                         TestSwipe(Now.addDays(-2), QStringLiteral("=back"), 7),
                                         TestSwipe(Now.addSecs(-3 * 3600), QStringLiteral("front"), 1234567,
                                                   QStringLiteral("Smith, \"Jo\"")),
                                         TestSwipe(Now.addSecs(-30 * 60), QStringLiteral("front"), 5, QString::fromUtf8("Zoë"))};
        for (TSwipeRecord& Swipe : Swipes)
            ASSERT_TRUE(Log.Commit(Swipe));
    }

    const TCliLogCase Cases[] = {
        {{}, 0, 5, "Time"},
        {{"--since", "2h"}, 0, 2, "Yes"},
        {{"--since", "7d", "--until", "1h"}, 0, 3, "No"},
        {{"--until", "2024-05-02"}, 0, 2, "0000000005 000,5"},
        {{"--since", "2024-05-01T08:00:00.250Z", "--until", "2024-05-01T08:00:00.251Z"}, 0, 2, "front"},
        {{"--card", "000,5", "--format", "csv"}, 0, 3, "id,time,door,card number,value,bytes,name,known,reason\r\n4,"},
        {{"--name", "SMITH", "--format", "csv"}, 0, 2, ",\"Smith, \"\"Jo\"\"\",yes,\r\n"},
        {{"--door", "=back", "--format", "csv"}, 0, 2, ",'=back,\"0000000007 000,7\""},
        {{"--format", "csv"}, 0, 5, "1,2024-05-01T08:00:00.250Z,front,\"0000000005 000,5\",5,0100000005,Zoë,yes,\r\n"},
        {{"--limit", "1", "--format", "csv"}, 0, 2, "\r\n4,"},
        {{"--since", "yesterday"}, 2, 0, "invalid --since 'yesterday'"},
        {{"--card", "nobody"}, 2, 0, "invalid --card"},
        {{"--prune", "3", "--name", "x"}, 2, 0, "--prune takes no --name"},
        {{"--prune", "0"}, 2, 0, "--prune 0 would remove every swipe: give 1 or more days"},
        {{"--prune", "3"}, 0, 1, "Removed 1 swipes older than"},
        {{"--format", "csv"}, 0, 4, "\r\n2,"},
    };
    for (const TCliLogCase& Case : Cases) {
        SCOPED_TRACE(Case.Args.join(' ').toStdString());
        const CliRun R = RunCli(QStringList{"log", "--db", Path} + Case.Args);
        EXPECT_EQ(R.Status, Case.Status) << R.Err.toStdString();
        EXPECT_EQ(R.Out.count('\n'), Case.Lines) << R.Out.toStdString();
        EXPECT_TRUE((Case.Status == 0 ? R.Out : R.Err).contains(QString::fromUtf8(Case.Shows)))
            << R.Out.toStdString() << R.Err.toStdString();
    }

    // JSON, from the default file under XDG_STATE_HOME.
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert(QStringLiteral("XDG_STATE_HOME"), Dir.path());
    CliRun R = RunCli({"log", "--since", "2h", "--format", "json"}, Env);
    ASSERT_EQ(R.Status, 0) << R.Err.toStdString();
    const QJsonArray Rows = QJsonDocument::fromJson(R.Out.toUtf8()).array();
    ASSERT_EQ(Rows.size(), 1);
    const QJsonObject Row = Rows[0].toObject();
    EXPECT_EQ(Row["id"].toInteger(), 4);
    EXPECT_EQ(Row["time"].toString(), Now.addSecs(-30 * 60).toString(Qt::ISODateWithMs));
    EXPECT_EQ(Row["door"].toString(), "front");
    EXPECT_EQ(Row["cardNumber"].toString(), "0000000005 000,5");
    EXPECT_EQ(Row["value"].toInteger(), 5);
    EXPECT_EQ(Row["bytes"].toString(), "0100000005");
    EXPECT_EQ(Row["name"].toString(), QString::fromUtf8("Zoë"));
    EXPECT_TRUE(Row["known"].toBool());

    R = RunCli({"log", "--db", Dir.filePath(QStringLiteral("none.db"))});
    EXPECT_EQ(R.Status, 1);
    EXPECT_TRUE(R.Err.contains(QStringLiteral("the access log %1 does not exist").arg(Dir.filePath(QStringLiteral("none.db")))))
        << R.Err.toStdString();
    EXPECT_FALSE(QFile::exists(Dir.filePath(QStringLiteral("none.db"))));

    // Another program's database is not made a log.
    const QString Other = Dir.filePath(QStringLiteral("notes.db"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("sqlite3"), {Other, "CREATE TABLE Notes(Text)"}), 0);
    R = RunCli({"log", "--db", Other});
    EXPECT_EQ(R.Status, 1);
    EXPECT_TRUE(R.Err.contains(QStringLiteral("The file %1 is another program's database").arg(Other))) << R.Err.toStdString();
    QProcess Tables;
    Tables.start(QStringLiteral("sqlite3"), {Other, ".tables"});
    ASSERT_TRUE(Tables.waitForFinished());
    EXPECT_EQ(Tables.readAllStandardOutput().trimmed(), "Notes");
}

} // namespace
