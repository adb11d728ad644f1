// Readers on the network and many readers at once: a 250-card read through ser2net (both
// accepters) against the same read on the bare pseudo-terminal, and dorvik-cli sync of one
// 250-card database to 1, 4 and 16 simulated readers against the time for one.

#include "bench/BenchCards.h"
#include "bench/BenchTable.h"
#include "cards/CardDatabaseFile.h"
#include "reader/Dorvik.h"
#include "sim/SimReader.h"
#include "support/Ser2netServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int CardCount = 250;
constexpr int Rounds = 5;

[[noreturn]] void Fail(const char* What) { BenchFailed("bench_network", What); }

double Median(std::vector<double> Values)
{
    std::sort(Values.begin(), Values.end());
    return Values[Values.size() / 2];
}

// Median milliseconds of a 250-card read from the port.
double ReadMs(const QString& Port)
{
    TDorvik Reader;
    QEventLoop Loop;
    Reader.OnTransferEnd = [&](QObject*) { Loop.quit(); };
    Reader.SetPort(Port);
    Reader.Connect();
    std::vector<double> Times;
    for (int R = 0; R < Rounds; ++R) {
        QElapsedTimer Clock;
        Clock.start();
        Reader.ReadDatabase();
        QTimer::singleShot(10000, &Loop, [] { Fail("a read did not end"); });
        Loop.exec();
        Times.push_back(Clock.nsecsElapsed() / 1e6);
        if (Reader.Tags().Count() != CardCount)
            Fail("a read brought a wrong number of cards");
    }
    return Median(Times);
}

double SyncSeconds(const QString& File, int Readers)
{
    std::vector<std::unique_ptr<sim::SimReader>> Sims;
    QStringList Args{"sync", File};
    for (int I = 0; I < Readers; ++I) {
        Sims.push_back(std::make_unique<sim::SimReader>());
        // Each answer as late as a real 19200 bit/s line brings it (a card frame takes 4.7 ms):
        // a sync waits on its readers' lines, which is what running them side by side saves.
        Sims.back()->SetReplyDelay(std::chrono::milliseconds(5));
        Args << QString::fromStdString(Sims.back()->PortName());
    }
    QProcess Cli;
    QElapsedTimer Clock;
    Clock.start();
    Cli.start(QStringLiteral(DORVIK_CLI), Args);
    if (!Cli.waitForFinished(120000) || Cli.exitCode() != 0)
        Fail("a sync failed");
    return Clock.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication App(argc, argv);
    if (Ser2netServer::Program().isEmpty()) {
        std::printf("ser2net not found: the network rows are left out (install the ser2net package)\n");
    } else {
        sim::SimReader Sim;
        Sim.SetCards(BenchCards(CardCount));
        // Frames as far apart as a real 19200 bit/s line sends them, so the figure is what a user
        // waits; unpaced, a read takes about a millisecond and the network's own millisecond
        // would swamp it.
        Sim.SetReplyDelay(std::chrono::milliseconds(5));
        const double Bare = ReadMs(QString::fromStdString(Sim.PortName()));
        for (const bool Rfc2217 : {false, true}) {
            Ser2netServer Server(QString::fromStdString(Sim.PortName()), Rfc2217, 19200);
            if (!Server.Listening())
                Fail("ser2net did not start");
            const double Networked = ReadMs(Server.Url());
            const double Slower = Networked / Bare - 1;
            PrintFigure(std::string("250-card read at line pace through ser2net, ") + (Rfc2217 ? "rfc2217" : "tcp") +
                            " vs bare pty",
                        Fixed(Networked, 0, "ms") + " vs " + Fixed(Bare, 0, "ms") + " (" + Fixed(Slower * 100, 1, "%") + ")",
                        "< 10% slower", GoalMet(Slower < 0.10));
        }
    }

    QTemporaryDir Dir;
    const QString File = Dir.filePath(QStringLiteral("site.tdb"));
    TRfidTags Tags;
    for (const auto& C : BenchCards(CardCount))
        Tags.Add().Bytes = C;
    SaveCardDatabaseFile(File, Tags, {0, 0, 5});
    const double One = SyncSeconds(File, 1);
    for (const int Readers : {4, 16}) {
        const double Many = SyncSeconds(File, Readers);
        PrintFigure("sync of 250 cards to " + std::to_string(Readers) + " readers vs 1",
                    Fixed(Many, 2, "s") + " vs " + Fixed(One, 2, "s") + " (" + Fixed(Many / One, 2, "x") + ")",
                    "16 readers < 1.5x one", Readers == 16 ? GoalMet(Many / One < 1.5) : TGoal::None);
    }
    return 0;
}
