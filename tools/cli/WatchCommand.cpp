#include "tools/cli/Arguments.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Console.h"

#include "agent/Door.h"
#include "cards/CardDatabaseFile.h"
#include "common/SignalWatch.h"
#include "log/AccessLog.h"
#include "log/SwipeJson.h"
#include "log/SwipeRecord.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>

#include <memory>
#include <optional>
#include <vector>

namespace {

const char WatchHelp[] =
    "Usage: dorvik-cli watch PORT... [--door NAME]... [--names FILE] [--log[=DB]]\n"
    "                        [--format table|json]\n"
    "\n"
    "Connects to each reader and prints every card swiped on it as it happens: when,\n"
    "at which door, which card, its name and whether the reader holds it. A reader\n"
    "that is lost is taken again (after 1 s, then up to every 30 s), and that is said\n"
    "on stderr. Ctrl+C, SIGTERM or SIGHUP ends it.\n"
    "\n"
    "With --log a swipe is printed once it is in the log. One the log cannot take\n"
    "yet (locked, full, read-only) is printed marked \"not logged yet\" (json:\n"
    "\"logged\": false) and printed again when it is written; what is still not\n"
    "written at the end waits beside the log, in DB.pending, for the next program\n"
    "that opens it.\n"
    "\n"
    "  --door NAME      the door's name in the output and the log, once per PORT in\n"
    "                   order (default: the port)\n"
    "  --names FILE     name the cards as this card database file names them\n"
    "  --log[=DB]       record every swipe in the access log (default\n"
    "                   $XDG_STATE_HOME/dorvik/access.db); --log DB.db also works\n"
    "  --format FORMAT  table (default) or json: one object per line\n";

// --log takes its file only when one is meant: "--log=DB", or "--log X.db". Any other word after
// it is a port.
QStringList LogArgument(QStringList Args, std::optional<QString>& Log)
{
    for (qsizetype I = 0; I < Args.size(); ++I) {
        if (Args[I].startsWith(QStringLiteral("--log="))) {
            Log = Args[I].mid(6);
            Args.removeAt(I--);
        } else if (Args[I] == u"--log") {
            const bool FileFollows = I + 1 < Args.size() && Args[I + 1].endsWith(QStringLiteral(".db"));
            Log = FileFollows ? Args[I + 1] : TAccessLog::DefaultPath();
            Args.remove(I, FileFollows ? 2 : 1);
            --I;
        }
    }
    return Args;
}

// With a log, Logged says whether the swipe is in it: a swipe the log could not take yet is
// printed marked, and again unmarked once it is written.
QString SwipeLine(const TSwipeRecord& S, bool AsJson, std::optional<bool> Logged)
{
    if (AsJson) {
        QJsonObject Object = SwipeJson(S);
        if (Logged)
            Object.insert(QStringLiteral("logged"), *Logged);
        return QString::fromUtf8(QJsonDocument(Object).toJson(QJsonDocument::Compact)) + u'\n';
    }
    return QStringLiteral("%1  %2  %3  %4%5%6\n")
        .arg(S.Time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), S.Door, S.CardNumber,
             S.Known ? QStringLiteral("known") : QStringLiteral("unknown"),
             S.Name.isEmpty() ? QString() : QStringLiteral("  ") + S.Name,
             Logged == false ? QStringLiteral("  (not logged yet: kept in memory)") : QString());
}

// Swipes go to the log first and are printed as it commits them.
std::unique_ptr<TAccessLog> OpenLog(const QString& Path, bool AsJson)
{
    auto Log = std::make_unique<TAccessLog>(Path, TAccessLog::TUse::Record);
    TAccessLog* Opened = Log.get();
    QObject::connect(Opened, &TAccessLog::Committed, Opened, [AsJson](const std::vector<TSwipeRecord>& Rows) {
        for (const TSwipeRecord& Swipe : Rows)
            Print(SwipeLine(Swipe, AsJson, true));
    });
    QObject::connect(Opened, &TAccessLog::Held, Opened, [AsJson](const std::vector<TSwipeRecord>& Swipes) {
        for (const TSwipeRecord& Swipe : Swipes)
            Print(SwipeLine(Swipe, AsJson, false));
    });
    QObject::connect(Opened, &TAccessLog::Changed, Opened, [Opened, Said = QString()]() mutable {
        const QString Now = Opened->Error();
        if (Now != Said && !Now.isEmpty())
            PrintError(QStringLiteral("dorvik-cli watch: %1\n").arg(Now));
        Said = Now;
    });
    return Log;
}

// What the log could not take at the end is kept beside it, and said.
int CloseLog(TAccessLog& Log)
{
    const TLogClosing Closing = Log.Close();
    QCoreApplication::sendPostedEvents(); // what the last try committed is printed
    if (Closing.SetAside > 0)
        PrintError(QStringLiteral("dorvik-cli watch: %1 swipes could not be written to the access log %2; they wait "
                                  "in %3 and are written the next time the log is opened\n")
                       .arg(Closing.SetAside).arg(Log.Path(), PendingFilePath(Log.Path())));
    if (Closing.Lost > 0)
        PrintError(QStringLiteral("dorvik-cli watch: %1 swipes could not be written to the access log %2, nor kept "
                                  "beside it: %3\n").arg(Closing.Lost).arg(Log.Path(), Closing.Problem));
    return Closing.SetAside + Closing.Lost > 0 ? 1 : 0;
}

} // namespace

int RunWatch(const QStringList& RawArgs)
{
    std::optional<QString> LogPath;
    const QStringList Args = LogArgument(RawArgs, LogPath);
    const TArguments Given(QStringLiteral("watch"), Args,
                           {{{QStringLiteral("door")}, QStringLiteral("NAME")},
                            {{QStringLiteral("names")}, QStringLiteral("FILE")},
                            {{QStringLiteral("format")}, QStringLiteral("FORMAT")}},
                           {QStringLiteral("PORT")}, 1, true);
    if (Given.Help()) {
        Print(QString::fromUtf8(WatchHelp));
        return 0;
    }
    const bool AsJson = Given.FormatIsJson();
    const QStringList Ports = Given.Positionals();
    const QStringList Doors = Given.Values(QStringLiteral("door"));
    if (Doors.size() > Ports.size())
        throw EUsage("more --door names than ports");
    // Before any reader's thread exists, so that only the watch below takes them.
    TSignalWatch::BlockSignals();
    TSignalWatch Signals;
    std::unique_ptr<TAccessLog> Log;
    if (LogPath)
        Log = OpenLog(*LogPath, AsJson);

    // The names file only names the swipes: nothing is written to the readers.
    const TRfidTags Names = Given.IsSet(QStringLiteral("names"))
                                ? LoadCardDatabaseFile(Given.Value(QStringLiteral("names"))).Tags
                                : TRfidTags();
    QEventLoop Loop;
    std::vector<std::unique_ptr<TDoor>> Watched;
    for (qsizetype I = 0; I < Ports.size(); ++I) {
        TDoorConfig Config{Ports[I], Doors.value(I, Ports[I]), Ports[I], QString(), false};
        auto Door = std::make_unique<TDoor>(Config, QString());
        Door->SetSite(Names);
        Door->OnSay = [](int Priority, const QString& Text) {
            if (Priority <= 5)
                PrintError(QStringLiteral("dorvik-cli watch: %1\n").arg(Text));
        };
        // With a log, a line on the screen marked as logged is a row in the log.
        Door->OnSwipe = [&](TDoor& At, const TRfidTag& Card, bool Known, const QString& Name) {
            TSwipeRecord Swipe = MakeSwipeRecord(Card, At.Config().Name, nullptr);
            Swipe.Known = Known;
            Swipe.Name = Name;
            if (Log)
                Log->Record(Swipe);
            else
                Print(SwipeLine(Swipe, AsJson, std::nullopt));
        };
        Watched.push_back(std::move(Door));
    }
    // A closed terminal (SIGHUP) ends it as Ctrl+C does, letting go of the readers.
    Signals.OnStop = Signals.OnReload = [&] { Loop.quit(); };
    for (auto& Door : Watched)
        Door->Start();
    Loop.exec();
    for (auto& Door : Watched)
        Door->Stop([] {});
    return Log ? CloseLog(*Log) : 0;
}
