#include "tools/cli/Arguments.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Console.h"
#include "tools/cli/SyncJob.h"
#include "reader/Verify.h"

#include "cards/CardDatabaseFile.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <memory>
#include <vector>

namespace {

const char SyncHelp[] =
    "Usage: dorvik-cli sync FILE.tdb PORT... [--format table|json] [--timeout SECONDS]\n"
    "\n"
    "Writes the cards of FILE.tdb and its master card to every reader at once, reads\n"
    "each back to verify, and prints one row per reader: port, cards, master, result\n"
    "and seconds. A reader that fails does not stop the others. The exit status is 1\n"
    "when any reader failed; the failed ones are named on stderr.\n"
    "\n"
    "  --format FORMAT    table (default) or json\n"
    "  --timeout SECONDS  a reader silent this long fails (default 5)\n";

QString Table(const std::vector<TSyncJob::Outcome>& Results)
{
    int Width = 4;
    for (const auto& R : Results)
        Width = std::max(Width, int(R.Port.size()));
    QString Text = QStringLiteral("%1  %2  %3  %4  %5\n")
                       .arg(QStringLiteral("PORT"), -Width)
                       .arg(QStringLiteral("CARDS"), 5)
                       .arg(QStringLiteral("MASTER"), 6)
                       .arg(QStringLiteral("SECONDS"), 7)
                       .arg(QStringLiteral("RESULT"));
    for (const auto& R : Results)
        Text += QStringLiteral("%1  %2  %3  %4  %5\n")
                    .arg(R.Port, -Width)
                    .arg(R.Cards, 5)
                    .arg(R.Master, 6)
                    .arg(R.Seconds, 7, 'f', 2)
                    .arg(R.Ok ? QStringLiteral("ok") : QStringLiteral("failed: ") + R.Message);
    return Text;
}

QString Json(const std::vector<TSyncJob::Outcome>& Results)
{
    QJsonArray Rows;
    for (const auto& R : Results)
        Rows.append(QJsonObject{{QStringLiteral("port"), R.Port},
                                {QStringLiteral("cards"), R.Cards},
                                {QStringLiteral("master"), qint64(R.Master)},
                                {QStringLiteral("ok"), R.Ok},
                                {QStringLiteral("error"), R.Ok ? QJsonValue() : QJsonValue(R.Message)},
                                {QStringLiteral("seconds"), R.Seconds}});
    return QString::fromUtf8(QJsonDocument(Rows).toJson(QJsonDocument::Indented));
}

} // namespace

int RunSync(const QStringList& Args)
{
    const TArguments Given(QStringLiteral("sync"), Args, {{{QStringLiteral("format")}, QStringLiteral("FORMAT")}, TimeoutOption()},
                           {QStringLiteral("FILE"), QStringLiteral("PORT")}, 2, true);
    if (Given.Help()) {
        Print(QString::fromUtf8(SyncHelp));
        return 0;
    }
    const bool AsJson = Given.FormatIsJson();
    const int Timeout = Given.TimeoutMs();
    // The file is checked before any port is touched.
    const TLoadedCardDatabase File = LoadCardDatabaseFile(Given.Positional(0));
    CheckFits(File.Tags);
    const QStringList Ports = Given.Positionals().mid(1);

    QEventLoop Loop;
    std::vector<std::unique_ptr<TSyncJob>> Jobs;
    const auto AllDone = [&] {
        for (const auto& J : Jobs)
            if (!J->Finished())
                return false;
        return true;
    };
    // Errors raised inside the event loop belong to one reader, whose own watch then ends it.
    const TExceptionReporter Previous = SetExceptionReporter(
        [](const std::exception& E) { PrintError(QStringLiteral("dorvik-cli sync: %1\n").arg(QString::fromUtf8(E.what()))); });
    int Running = 0;
    for (const QString& Port : Ports)
        Jobs.push_back(std::make_unique<TSyncJob>(Port, File.Tags, File.Master, Timeout, [&] {
            if (--Running == 0)
                Loop.quit();
        }));
    Running = int(Jobs.size());
    // Posted, so that each open waits inside the others' and unreachable readers cost one bound.
    for (const auto& J : Jobs)
        QMetaObject::invokeMethod(J.get(), [Job = J.get()] { Job->Start(); }, Qt::QueuedConnection);
    if (Running > 0 && !AllDone())
        Loop.exec();
    SetExceptionReporter(Previous);

    std::vector<TSyncJob::Outcome> Results;
    QStringList Failed;
    for (const auto& J : Jobs) {
        Results.push_back(J->Result());
        if (!J->Result().Ok)
            Failed << J->Result().Port;
    }
    Print(AsJson ? Json(Results) : Table(Results));
    if (Failed.isEmpty())
        return 0;
    PrintError(QStringLiteral("dorvik-cli sync: failed on %1\n").arg(Failed.join(QStringLiteral(", "))));
    return 1;
}
