#include "tools/cli/AccessListing.h"
#include "tools/cli/Arguments.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Console.h"

#include "access/AccessRules.h"
#include "access/SiteCheck.h"
#include "access/ZoneTime.h"
#include "agent/AgentConfig.h"
#include "log/TimeText.h"
#include "reader/Protocol.h"

#include <QFileInfo>

namespace {

const char AccessHelp[] =
    "Usage: dorvik-cli access check SITE [--config FILE] [--at TIME] [--door ID]\n"
    "                               [--format table|json]\n"
    "       dorvik-cli access plan SITE [--config FILE] [--at TIME] [--days N]\n"
    "                              [--door ID] [--format table|json]\n"
    "\n"
    "Who may enter, and when, by a site list: a CSV file whose header is\n"
    "card,name,master, then optional from and until (2026-12-31, 2026-12-31 18:00),\n"
    "then one column per door headed by the door's id, whose cells are yes, empty or\n"
    "no, or a schedule's name; or a .tdb file (every card for every door).\n"
    "\n"
    "check prints each door's list at TIME: the master card, and the cards whose\n"
    "from, until and cell admit TIME. plan prints the changes to come, in order: when,\n"
    "at which door, who comes on and who goes off, and why. Both check the whole file\n"
    "first, and name each problem with its line (exit status 1).\n"
    "\n"
    "  --config FILE    the agent's configuration: its doors (those whose site-file\n"
    "                   is SITE, else all), its [schedule NAME] sections and its\n"
    "                   [site] time-zone. Without it, the doors are the file's door\n"
    "                   columns, the time zone is the system's and no cell may name\n"
    "                   a schedule\n"
    "  --at TIME        the moment to check, or where the plan starts (default now)\n"
    "  --days N         how many days the plan covers (default 7, at most 3660)\n"
    "  --door ID        this door only\n"
    "  --format FORMAT  table (default) or json\n"
    "\n"
    "TIME is ISO 8601 (2026-12-31, 2026-12-31T18:00; the site's time unless it ends in\n"
    "Z or an offset), an age such as 30m, 2h or 7d, or today. Tables show the site's\n"
    "time; JSON shows ISO 8601 with the site's offset.\n";

std::vector<TOptionInfo> AccessOptions()
{
    std::vector<TOptionInfo> Options;
    for (const char* Name : {"config", "at", "days", "door", "format"})
        Options.push_back({{QString::fromLatin1(Name)}, QStringLiteral("VALUE")});
    return Options;
}

// The zone, schedules and doors of the agent's configuration; without one, the system's zone.
TAccessSetup SetupOf(const TArguments& Given, const QString& Site)
{
    TAccessSetup Setup;
    if (!Given.IsSet(QStringLiteral("config"))) {
        Setup.SchedulesKnown = false;
        return Setup;
    }
    const TAgentConfig Config = LoadAgentConfig(Given.Value(QStringLiteral("config")));
    Setup = AccessSetupOf(Config, Site);
    if (Setup.Doors.empty()) // no door reads this file: it is tried for every door
        for (const TDoorConfig& Door : Config.Doors)
            Setup.Doors.push_back({Door.Id, Door.Name});
    return Setup;
}

// TIME as dorvik-cli log reads it; a time without a zone is the site's.
QDateTime MomentOf(const TArguments& Given, const QTimeZone& Zone)
{
    const QDateTime Now = QDateTime::currentDateTimeUtc();
    if (!Given.IsSet(QStringLiteral("at")))
        return Now;
    const std::optional<QDateTime> Time = TimeFromText(Given.Value(QStringLiteral("at")), Now);
    if (!Time)
        throw EUsage(Format("invalid --at '%s': give ISO 8601, an age such as 2h or 7d, or today",
                            Given.Value(QStringLiteral("at")).toUtf8().constData()));
    if (Time->timeSpec() != Qt::LocalTime)
        return Time->toUTC();
    // As the rules read the site's clock: a time it skips is when it jumps past it, a time it
    // shows twice its first showing.
    const QTime Clock = Time->time();
    const TInstant At = FirstShowing(Zone, Time->date(), Clock.hour() * 60 + Clock.minute()) + Clock.second() * 1000 + Clock.msec();
    return QDateTime::fromMSecsSinceEpoch(At, Qt::UTC);
}

int DaysOf(const TArguments& Given)
{
    if (!Given.IsSet(QStringLiteral("days")))
        return 7;
    bool Ok = false;
    const int Days = Given.Value(QStringLiteral("days")).toInt(&Ok);
    if (!Ok || Days < 1 || Days > 3660)
        throw EUsage(Format("invalid --days '%s': give a whole number from 1 to 3660", Given.Value(QStringLiteral("days")).toUtf8().constData()));
    return Days;
}

QStringList DoorsOf(const TArguments& Given, const TAccessRules& Rules)
{
    QStringList All;
    for (const TAccessDoor& Door : Rules.Doors())
        All.append(Door.Id);
    if (!Given.IsSet(QStringLiteral("door")))
        return All;
    const QString Door = Given.Value(QStringLiteral("door"));
    if (!All.contains(Door))
        throw EUsage(Format("unknown door '%s': the doors are %s", Door.toUtf8().constData(), All.join(QStringLiteral(", ")).toUtf8().constData()));
    return {Door};
}

} // namespace

int RunAccess(const QStringList& Args)
{
    const TArguments Given(QStringLiteral("access"), Args, AccessOptions(), {QStringLiteral("check or plan"), QStringLiteral("SITE")}, 2);
    if (Given.Help()) {
        Print(QString::fromUtf8(AccessHelp));
        return 0;
    }
    const QString Action = Given.Positional(0);
    if (Action != u"check" && Action != u"plan")
        throw EUsage(Format("unknown action '%s': use check or plan", Action.toUtf8().constData()));
    const bool Json = Given.FormatIsJson();
    const int Days = DaysOf(Given);
    const QString SiteFile = Given.Positional(1);
    TAccessSetup Setup = SetupOf(Given, SiteFile);
    const QDateTime At = MomentOf(Given, Setup.Zone);

    const TSiteRead Read = ReadSiteFile(SiteFile);
    const TAccessRules Rules(Read.Site, std::move(Setup));
    const QStringList Doors = DoorsOf(Given, Rules);
    const std::vector<TSiteProblem> Problems = CheckSite(Read, Rules, protocol::CardLimit, At);
    if (!Problems.empty()) {
        PrintError(ProblemLines(SiteFile, Problems));
        return 1;
    }
    if (Action == u"check") {
        Print(DoorListsListing(Rules, Doors, At, Json));
        return 0;
    }
    std::vector<TListChange> Changes;
    for (const TListChange& Change : Rules.Changes(At, At.toTimeZone(Rules.Setup().Zone).addDays(Days)))
        if (Doors.contains(Change.Door))
            Changes.push_back(Change);
    Print(ChangesListing(Rules, Changes, Json));
    return 0;
}
