// dorvik-cli access: a door's list at a moment and the plan of changes, from a spreadsheet's
// site list (a byte order mark, CRLF, quotes) under the agent's configuration; the doors that take
// their cards from the file; the site's time zone for times without one; problems and bad
// arguments; a .tdb site file.

#include "core/CliProgram.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace {

struct TCliAccessCase
{
    QStringList Args; // after "access"
    int Status;
    int Lines;         // on stdout
    const char* Shows; // in stdout, or in stderr when the status is not 0
    const char* Hides; // nowhere in stdout
};

void WriteText(const QString& FileName, const QByteArray& Text)
{
    QFile File(FileName);
    ASSERT_TRUE(File.open(QIODevice::WriteOnly));
    File.write(Text);
}

TEST(CliAccess, ChecksAndPlansASiteListUnderTheAgentsConfiguration)
{
    QTemporaryDir Dir;
    const QString Site = Dir.filePath("site.csv");
    const QString Tdb = Dir.filePath("site.tdb");
    WriteText(Site, "\xEF\xBB\xBF" "card,name,master,from,until,front-door,store\r\n"
                          "1234567,Ann,yes,,,,\r\n"
                          "2,\"Dana, \"\"D\"\"\",,,2026-12-31,cleaners,yes\r\n"
                          "3,Evan,,2026-01-05,2026-12-29 18:00,yes,\r\n"
                          "4,Fred,,2027-01-05,,yes,yes\r\n");
    WriteText(Dir.filePath("agent.conf"), "[front-door]\nname = Front door\nport = p1\nsite-file = site.csv\n"
                            "[store]\nport = p2\nsite-file = site.csv\n"
                            "[garage]\nport = p3\nsite-file = garage.tdb\n"
                            "[site]\ntime-zone = Europe/Berlin\n"
                            "[schedule cleaners]\ntue = 18:00-20:00\n");
    WriteCardFile(Tdb, {{{0, 0, 0, 0, 9}, "Ivy"}});
    const QStringList Config{"--config", Dir.filePath("agent.conf")};

    const TCliAccessCase Cases[] = {
        {QStringList{"check", Site, "--at", "2026-12-29T18:30"} + Config, 0, 5, "cleaners, until 2026-12-31", "garage"},
        {QStringList{"check", Site, "--at", "2026-12-29T18:30"} + Config, 0, 5, "Dana, \"D\"", "Evan"},
        {QStringList{"check", Site, "--at", "2026-12-29T16:59Z", "--door", "front-door"} + Config, 0, 3,
         "yes, from 2026-01-05, until 2026-12-29 18:00", "Dana"},
        {QStringList{"plan", Site, "--at", "2026-12-29", "--days", "8"} + Config, 0, 6, "Evan (until 2026-12-29 18:00)", "garage"},
        {QStringList{"plan", Site, "--at", "2026-12-29", "--days", "8"} + Config, 0, 6, "Dana, \"D\" (until 2026-12-31)", "Ann"},
        {QStringList{"plan", Site, "--at", "2026-12-29", "--days", "8"} + Config, 0, 6, "Fred (from 2027-01-05)", "Jan"},
        {{"check", Site}, 1, 0,
         "site.csv:3: door front-door: \"cleaners\" names a schedule, and schedules are kept in the agent's configuration, which was "
         "not given\n",
         ""},
        {{"check", Tdb}, 0, 2, "every door  0000000009 000,9", ""},
        {QStringList{"check", Site, "--door", "garage"} + Config, 2, 0, "unknown door 'garage': the doors are front-door, store", ""},
        {QStringList{"plan", Site, "--days", "0"} + Config, 2, 0, "invalid --days '0'", ""},
        {QStringList{"check", Site, "--at", "yesterday"} + Config, 2, 0, "invalid --at 'yesterday'", ""},
        {{"frob", Site}, 2, 0, "unknown action 'frob': use check or plan", ""},
        {QStringList{"check", Dir.filePath("missing.csv")} + Config, 1, 0, "Cannot open file", ""},
    };
    for (const TCliAccessCase& Case : Cases) {
        SCOPED_TRACE(Case.Args.join(' ').toStdString());
        const CliRun R = RunCli(QStringList{"access"} + Case.Args);
        EXPECT_EQ(R.Status, Case.Status) << R.Err.toStdString();
        EXPECT_EQ(R.Out.count('\n'), Case.Lines) << R.Out.toStdString();
        EXPECT_TRUE((Case.Status == 0 ? R.Out : R.Err).contains(QString::fromUtf8(Case.Shows))) << R.Out.toStdString() << R.Err.toStdString();
        if (*Case.Hides) {
            EXPECT_FALSE(R.Out.contains(QString::fromUtf8(Case.Hides))) << R.Out.toStdString();
        }
    }

    const CliRun R = RunCli(QStringList{"access", "check", Site, "--at", "2026-12-29T18:30", "--door", "front-door", "--format", "json"} + Config);
    ASSERT_EQ(R.Status, 0) << R.Err.toStdString();
    const QJsonArray Doors = QJsonDocument::fromJson(R.Out.toUtf8()).array();
    ASSERT_EQ(Doors.size(), 1);
    const QJsonObject Door = Doors[0].toObject();
    EXPECT_EQ(Door["door"].toString(), "front-door");
    EXPECT_EQ(Door["doorName"].toString(), "Front door");
    EXPECT_EQ(Door["time"].toString(), "2026-12-29T18:30:00+01:00");
    EXPECT_EQ(Door["next"].toString(), "2026-12-29T20:00:00+01:00");
    const QJsonArray Cards = Door["cards"].toArray();
    ASSERT_EQ(Cards.size(), 2);
    EXPECT_EQ(Cards[0].toObject()["master"].toBool(), true);
    EXPECT_EQ(Cards[1].toObject()["name"].toString(), "Dana, \"D\"");
    EXPECT_EQ(Cards[1].toObject()["value"].toInteger(), 2);
    EXPECT_EQ(Cards[1].toObject()["rule"].toString(), "cleaners, until 2026-12-31");
}

} // namespace
