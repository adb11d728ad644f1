#include "tools/cli/Arguments.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Console.h"
#include "tools/cli/SwipeListing.h"

#include "log/AccessLog.h"
#include "log/TimeText.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <memory>

namespace {

const char LogHelp[] =
    "Usage: dorvik-cli log [--since TIME] [--until TIME] [--door NAME]\n"
    "                      [--card NUMBER] [--name TEXT] [--limit N]\n"
    "                      [--format table|csv|json] [--db FILE]\n"
    "       dorvik-cli log --prune DAYS [--db FILE]\n"
    "       dorvik-cli log --status [--db FILE]\n"
    "       dorvik-cli log --changes [--since TIME] [--until TIME] [--limit N]\n"
    "                      [--format table|csv|json] [--db FILE]\n"
    "\n"
    "Lists the swipes of the access log, newest first: when, at which door, which\n"
    "card, the name the card had then, whether the card list held it and, for a\n"
    "door the agent keeps time for, why its rules refused the card. The table\n"
    "shows local time; csv and json show UTC (ISO 8601 with milliseconds).\n"
    "\n"
    "  --since TIME     from this moment on\n"
    "  --until TIME     before this moment\n"
    "  --door NAME      at this door only\n"
    "  --card NUMBER    this card: its card number, its value (decimal or 0x hex) or\n"
    "                   the two numbers after it (018,54919)\n"
    "  --name TEXT      names that hold this text, in any case\n"
    "  --limit N        at most N swipes (default 100, 0 for all)\n"
    "  --format FORMAT  table (default), csv or json\n"
    "  --db FILE        the access log (default $XDG_STATE_HOME/dorvik/access.db,\n"
    "                   that is ~/.local/state/dorvik/access.db)\n"
    "  --prune DAYS     remove the swipes older than DAYS days (1 or more) and say\n"
    "                   how many\n"
    "  --status         how the log stands: its rows, swipes waiting beside it to be\n"
    "                   written, swipes ever dropped, and what is wrong\n"
    "  --changes        the changes people made on dorvik-agent's page instead:\n"
    "                   when, who, from which address, and what\n"
    "\n"
    "TIME is ISO 8601 (2024-05-01, 2024-05-01T08:30; local time unless it ends in Z\n"
    "or an offset), an age such as 45s, 30m, 2h, 7d or 2w, or today.\n";

// The options that pick swipes, which --prune does not take.
constexpr const char* QueryOptions[] = {"since", "until", "door", "card", "name", "limit", "format"};

std::vector<TOptionInfo> LogOptions()
{
    std::vector<TOptionInfo> Options;
    for (const char* Name : QueryOptions)
        Options.push_back({{QString::fromLatin1(Name)}, QStringLiteral("VALUE")});
    Options.push_back({{QStringLiteral("db")}, QStringLiteral("FILE")});
    Options.push_back({{QStringLiteral("prune")}, QStringLiteral("DAYS")});
    Options.push_back({{QStringLiteral("status")}, QString()});
    Options.push_back({{QStringLiteral("changes")}, QString()});
    return Options;
}

int Count(const TArguments& Given, const QString& Option, int Default)
{
    if (!Given.IsSet(Option))
        return Default;
    bool Ok = false;
    const int Value = Given.Value(Option).toInt(&Ok);
    if (!Ok || Value < 0)
        throw EUsage(Format("invalid --%s '%s': give a whole number, 0 or more", Option.toUtf8().constData(),
                            Given.Value(Option).toUtf8().constData()));
    return Value;
}

std::optional<QDateTime> Moment(const TArguments& Given, const QString& Option, const QDateTime& Now)
{
    if (!Given.IsSet(Option))
        return std::nullopt;
    const std::optional<QDateTime> Time = TimeFromText(Given.Value(Option), Now);
    if (!Time)
        throw EUsage(Format("invalid --%s '%s': give ISO 8601, an age such as 2h or 7d, or today",
                            Option.toUtf8().constData(), Given.Value(Option).toUtf8().constData()));
    return Time;
}

TLogQuery QueryOf(const TArguments& Given, const QDateTime& Now)
{
    TLogQuery Query;
    Query.Since = Moment(Given, QStringLiteral("since"), Now);
    Query.Until = Moment(Given, QStringLiteral("until"), Now);
    Query.Door = Given.Value(QStringLiteral("door"));
    Query.Card = Given.Value(QStringLiteral("card"));
    if (!Query.Card.isEmpty() && !CardValueFromText(Query.Card))
        throw EUsage(Format("invalid --card '%s': give a card number or value", Query.Card.toUtf8().constData()));
    Query.NameText = Given.Value(QStringLiteral("name"));
    Query.Limit = Count(Given, QStringLiteral("limit"), Query.Limit);
    return Query;
}

ListingFormat FormatOf(const TArguments& Given)
{
    const QString Name = Given.IsSet(QStringLiteral("format")) ? Given.Value(QStringLiteral("format")) : QStringLiteral("table");
    const std::optional<ListingFormat> Chosen = ListingFormatNamed(Name);
    if (!Chosen)
        throw EUsage(Format("unknown format '%s': use table, csv or json", Name.toUtf8().constData()));
    return *Chosen;
}

// The log is never made here: a path given wrong would otherwise read as an empty history.
void MustExist(const QString& Path)
{
    if (!QFileInfo::exists(Path))
        throw Exception(Format("the access log %s does not exist: nothing was logged there yet", Path.toUtf8().constData()));
}

int Prune(const QString& Path, int Days, const QDateTime& Now)
{
    // 0 would be every swipe, where the agent's keep-days = 0 means keeping them all.
    if (Days == 0)
        throw EUsage("--prune 0 would remove every swipe: give 1 or more days");
    MustExist(Path);
    TAccessLog Log(Path);
    const QDateTime Before = Now.addDays(-Days);
    int Removed = -1;
    QEventLoop Wait;
    QObject::connect(&Log, &TAccessLog::Pruned, &Wait, [&](int Count) {
        Removed = Count;
        Wait.quit();
    });
    Log.Prune(Before);
    Wait.exec();
    if (Removed < 0)
        throw Exception(Log.Error().toStdString());
    Print(QStringLiteral("Removed %1 swipes older than %2.\n")
              .arg(Removed)
              .arg(Before.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    return 0;
}

// The log as the command reads it. One this user may write first takes in the swipes that wait
// beside it, so that they are listed too.
std::unique_ptr<TAccessLog> OpenToRead(const QString& Path)
{
    MustExist(Path);
    if (!QFileInfo::exists(PendingFilePath(Path)) || !QFileInfo(Path).isWritable())
        return std::make_unique<TAccessLog>(Path, TAccessLog::TUse::Read);
    auto Log = std::make_unique<TAccessLog>(Path, TAccessLog::TUse::Record);
    QEventLoop Wait;
    const auto Ready = [&] { return Log->Database().isOpen() || !Log->Error().isEmpty(); };
    QObject::connect(Log.get(), &TAccessLog::Changed, &Wait, [&] {
        if (Ready())
            Wait.quit();
    });
    QTimer::singleShot(10000, &Wait, &QEventLoop::quit);
    if (!Ready())
        Wait.exec();
    return Log;
}

int ShowStatus(const QString& Path)
{
    const TLogStatus Status = OpenToRead(Path)->Status();
    QString Text = QStringLiteral("Access log: %1 (version %2 of the log)\nSwipes:     %3\n")
                       .arg(Path).arg(Status.Version).arg(Status.Rows);
    Text += QStringLiteral("Waiting:    %1 swipes in %2, written the next time a program records in the log\n")
                .arg(Status.Waiting).arg(PendingFilePath(Path));
    Text += QStringLiteral("Dropped:    %1 swipes, ever, for room while the log could not be written\n").arg(Status.Dropped);
    if (!Status.Problem.isEmpty())
        Text += QStringLiteral("Problem:    %1\n").arg(Status.Problem);
    Print(Text);
    return Status.Problem.isEmpty() ? 0 : 1;
}

} // namespace

int RunLog(const QStringList& Args)
{
    const TArguments Given(QStringLiteral("log"), Args, LogOptions(), {}, 0);
    if (Given.Help()) {
        Print(QString::fromUtf8(LogHelp));
        return 0;
    }
    const QDateTime Now = QDateTime::currentDateTimeUtc();
    const bool Pruning = Given.IsSet(QStringLiteral("prune"));
    const bool Status = Given.IsSet(QStringLiteral("status"));
    if (Pruning && Status)
        throw EUsage("--prune takes no --status");
    if ((Pruning || Status) && Given.IsSet(QStringLiteral("changes")))
        throw EUsage(Format("--%s takes no --changes", Pruning ? "prune" : "status"));
    for (const char* Option : QueryOptions) {
        if ((Pruning || Status) && Given.IsSet(QString::fromLatin1(Option)))
            throw EUsage(Format("--%s takes no --%s", Pruning ? "prune" : "status", Option));
    }
    const int Days = Count(Given, QStringLiteral("prune"), 0);
    const TLogQuery Query = QueryOf(Given, Now);
    const ListingFormat Chosen = FormatOf(Given);
    const QString Path = Given.IsSet(QStringLiteral("db")) ? Given.Value(QStringLiteral("db")) : TAccessLog::DefaultPath();
    if (Pruning)
        return Prune(Path, Days, Now);
    if (Status)
        return ShowStatus(Path);
    if (Given.IsSet(QStringLiteral("changes"))) {
        if (!Query.Door.isEmpty() || !Query.Card.isEmpty() || !Query.NameText.isEmpty())
            throw EUsage("--changes takes only --since, --until, --limit, --format and --db");
        const std::unique_ptr<TAccessLog> Log = OpenToRead(Path);
        const std::vector<TChangeRecord> Changes = Log->Changes(Query.Since, Query.Until, Query.Limit);
        if (!Log->Error().isEmpty())
            throw Exception(Log->Error().toStdString());
        Print(ChangeListing(Changes, Chosen));
        return 0;
    }
    const std::unique_ptr<TAccessLog> Log = OpenToRead(Path);
    if (!Log->Error().isEmpty())
        throw Exception(Log->Error().toStdString());
    if (const QString Problem = PrintSwipeListing(*Log, Query, Chosen); !Problem.isEmpty())
        throw Exception(Problem.toStdString());
    return 0;
}
