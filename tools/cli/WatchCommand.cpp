#include "tools/cli/Arguments.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Console.h"

#include "agent/Door.h"
#include "common/SignalWatch.h"
#include "log/AccessLog.h"
#include "log/SwipeJson.h"
#include "log/SwipeRecord.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>

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
    "on stderr. Ctrl+C or SIGTERM ends it.\n"
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

QString SwipeLine(const TSwipeRecord& S, bool AsJson)
{
    if (AsJson)
        return QString::fromUtf8(QJsonDocument(SwipeJson(S)).toJson(QJsonDocument::Compact)) + u'\n';
    return QStringLiteral("%1  %2  %3  %4%5\n")
        .arg(S.Time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), S.Door, S.CardNumber,
             S.Known ? QStringLiteral("known") : QStringLiteral("unknown"),
             S.Name.isEmpty() ? QString() : QStringLiteral("  ") + S.Name);
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
    std::optional<TAccessLog> Log;
    if (LogPath) {
        Log.emplace(*LogPath);
        if (!Log->Error().isEmpty())
            PrintError(QStringLiteral("dorvik-cli watch: %1\n").arg(Log->Error()));
    }
    QString LogProblem = Log ? Log->Error() : QString();

    QEventLoop Loop;
    std::vector<std::unique_ptr<TDoor>> Watched;
    for (qsizetype I = 0; I < Ports.size(); ++I) {
        TDoorConfig Config{Ports[I], Doors.value(I, Ports[I]), Ports[I], Given.Value(QStringLiteral("names")), false};
        auto Door = std::make_unique<TDoor>(Config, QString());
        Door->OnSay = [](int Priority, const QString& Text) {
            if (Priority <= 5)
                PrintError(QStringLiteral("dorvik-cli watch: %1\n").arg(Text));
        };
        // Recorded before it is printed: a line on the screen is a row in the log.
        Door->OnSwipe = [&](TDoor& At, const TRfidTag& Card, bool Known, const QString& Name) {
            TSwipeRecord Swipe = MakeSwipeRecord(Card, At.Config().Name, nullptr);
            Swipe.Known = Known;
            Swipe.Name = Name;
            if (Log) {
                Log->Record(Swipe);
                if (Log->Error() != LogProblem && !(LogProblem = Log->Error()).isEmpty())
                    PrintError(QStringLiteral("dorvik-cli watch: %1\n").arg(LogProblem));
            }
            Print(SwipeLine(Swipe, AsJson));
        };
        Watched.push_back(std::move(Door));
    }
    Signals.OnStop = [&] { Loop.quit(); };
    for (auto& Door : Watched)
        Door->Start();
    Loop.exec();
    for (auto& Door : Watched)
        Door->Stop([] {});
    return Log && Log->Pending() > 0 ? 1 : 0;
}
