// dorvik-agent holding 16 doors on simulated readers, run as systemd runs it: its resident memory,
// what it does while nothing happens (CPU time and wake-ups of all its threads over a while), the
// delay a door's socket adds to a swipe relayed to a program, the other doors' swipe-to-log time
// while a program floods one door at line speed, and how soon a reader that comes back is held
// again.

#include "bench/BenchTable.h"
#include "bench/ProcStatus.h"
#include "reader/Dorvik.h"
#include "reader/Protocol.h"
#include "sim/SimFrames.h"
#include "sim/SimReader.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int Doors = 16;

[[noreturn]] void Fail(const std::string& What) { BenchFailed("bench_agent", What); }

void RunUntil(const std::function<bool()>& Condition, int Ms = 10000)
{
    QDeadlineTimer GiveUp(Ms);
    while (!Condition()) {
        if (GiveUp.hasExpired())
            Fail("timed out");
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication App(argc, argv);
    const int IdleSeconds = qEnvironmentVariableIsSet("DORVIK_BENCH_IDLE_SECONDS")
        ? qEnvironmentVariableIntValue("DORVIK_BENCH_IDLE_SECONDS") : 60;
    QTemporaryDir Dir;
    std::vector<std::unique_ptr<sim::SimReader>> Readers;
    QByteArray Config;
    for (int I = 0; I < Doors; ++I) {
        Readers.push_back(std::make_unique<sim::SimReader>());
        const QString Link = Dir.filePath(QStringLiteral("tty%1").arg(I));
        QFile::link(QString::fromStdString(Readers.back()->PortName()), Link);
        Config += QStringLiteral("[door-%1]\nport = %2\n").arg(I).arg(Link).toUtf8();
    }
    Config += "[log]\npath = access.db\n";
    QFile File(Dir.filePath(QStringLiteral("agent.conf")));
    if (!File.open(QIODevice::WriteOnly) || File.write(Config) != Config.size())
        Fail("cannot write the configuration");
    File.close();

    QProcess Agent;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert(QStringLiteral("RUNTIME_DIRECTORY"), Dir.filePath(QStringLiteral("run")));
    Env.insert(QStringLiteral("STATE_DIRECTORY"), Dir.path());
    Agent.setProcessEnvironment(Env);
    // What it says, line by line as it comes: a swipe's line follows its commit to the log.
    Agent.setProcessChannelMode(QProcess::SeparateChannels);
    std::vector<std::pair<QByteArray, qint64>> Lines;
    QElapsedTimer Since;
    Since.start();
    QObject::connect(&Agent, &QProcess::readyReadStandardError, [&] {
        Agent.setReadChannel(QProcess::StandardError);
        while (Agent.canReadLine())
            Lines.emplace_back(Agent.readLine(), Since.nsecsElapsed());
    });
    Agent.start(QStringLiteral(DORVIK_AGENT), {QStringLiteral("--config"), File.fileName()});
    for (auto& R : Readers)
        RunUntil([&] { return R->WaitForFrames(2, std::chrono::milliseconds(0)); });
    QThread::msleep(500); // every door's read has ended
    const qint64 Pid = Agent.processId();

    const double RssMb = ProcField(QStringLiteral("/proc/%1/status").arg(Pid), "VmRSS") / 1024.0;
    PrintFigure("agent, 16 doors: resident memory", Fixed(RssMb, 1, "MB"), "< 40 MB", GoalMet(RssMb < 40));

    const long WakeBefore = WakeUps(Pid), CpuBefore = CpuTicks(Pid);
    QThread::sleep(unsigned(IdleSeconds));
    const long Woke = WakeUps(Pid) - WakeBefore;
    const double CpuMs = double(CpuTicks(Pid) - CpuBefore) * 1000.0 / double(sysconf(_SC_CLK_TCK));
    PrintFigure("agent, 16 doors idle " + std::to_string(IdleSeconds) + " s: wake-ups", std::to_string(Woke), "0",
                GoalMet(Woke == 0));
    PrintFigure("agent, 16 doors idle " + std::to_string(IdleSeconds) + " s: CPU time", Fixed(CpuMs, 0, "ms"));

    // A swipe relayed through door 1's socket against the same swipe on a reader held directly.
    const auto SwipeDelays = [&](sim::SimReader& Reader, const QString& Port) {
        TDorvik Client;
        bool Seen = false;
        Client.OnCardSwipe = [&](QObject*, TRfidTag&) { Seen = true; };
        Client.SetPort(Port);
        Client.Connect();
        std::vector<double> Ms;
        for (int I = 0; I < 200; ++I) {
            Seen = false;
            QElapsedTimer Clock;
            Clock.start();
            Reader.Swipe({0, 0, 0, 0, uint8_t(I)});
            RunUntil([&] { return Seen; });
            Ms.push_back(double(Clock.nsecsElapsed()) / 1e6);
        }
        std::sort(Ms.begin(), Ms.end());
        return Ms[Ms.size() / 2];
    };
    sim::SimReader Direct;
    const double Held = SwipeDelays(Direct, QString::fromStdString(Direct.PortName()));
    const double Relayed = SwipeDelays(*Readers[1], QStringLiteral("unix:") + Dir.filePath(QStringLiteral("run/door-1.sock")));
    PrintFigure("agent: a swipe through a door's socket, added delay (median)", Fixed(Relayed - Held, 2, "ms"), "< 1 ms",
                GoalMet(Relayed - Held < 1));

    // A program on door 0 sends the reader frames at the line's own pace (19200 baud, 1920 bytes a
    // second) and reads the answers; meanwhile a card is swiped on each other door in turn, and
    // the time to its line in the agent's journal is taken.
    QLocalSocket Flood;
    Flood.connectToServer(Dir.filePath(QStringLiteral("run/door-0.sock")));
    RunUntil([&] { return Flood.canReadLine(); });
    Flood.readAll();
    const sim::Frame Ask = sim::MakeFrame(protocol::fcReadDoorConfig);
    const QByteArray Pace = QByteArray(reinterpret_cast<const char*>(Ask.data()), qsizetype(Ask.size())).repeated(5);
    QTimer Sender;
    QObject::connect(&Sender, &QTimer::timeout, [&] {
        Flood.write(Pace); // 20 bytes every 10 ms
        Flood.readAll();
    });
    Sender.start(10);
    std::vector<double> Logged;
    for (int Round = 0; Round < 20; ++Round)
        for (int Door = 1; Door < Doors; ++Door) {
            const uint32_t Value = 500000 + uint32_t(Round * Doors + Door);
            const QByteArray Said = QStringLiteral("door-%1: unknown card %2").arg(Door).arg(Value, 10, 10, QLatin1Char('0')).toLatin1();
            const size_t Seen = Lines.size();
            const qint64 Swiped = Since.nsecsElapsed();
            Readers[size_t(Door)]->Swipe({0, uint8_t(Value >> 24), uint8_t(Value >> 16), uint8_t(Value >> 8), uint8_t(Value)});
            size_t At = Seen;
            RunUntil([&] {
                for (; At < Lines.size(); ++At)
                    if (Lines[At].first.contains(Said))
                        return true;
                return false;
            });
            Logged.push_back(double(Lines[At].second - Swiped) / 1e6);
        }
    Sender.stop();
    if (Flood.state() != QLocalSocket::ConnectedState)
        Fail("the flooding program was let go: it sent no faster than the line");
    Flood.disconnectFromServer();
    std::sort(Logged.begin(), Logged.end());
    const double P99 = Logged[size_t(std::ceil(0.99 * double(Logged.size()))) - 1];
    PrintFigure("agent, 16 doors, one flooded by a program at line speed: the others' swipe to log (p99)", Fixed(P99, 1, "ms"),
                "< 20 ms", GoalMet(P99 < 20));
    PrintFigure("agent, 16 doors, one flooded by a program at line speed: the others' swipe to log (median)",
                Fixed(Logged[Logged.size() / 2], 1, "ms"));

    // A reader unplugged and plugged back: how soon the agent asks it again.
    std::vector<double> Back;
    for (int Round = 0; Round < 3; ++Round) {
        auto Old = std::move(Readers[0]);
        Old->HangUp();
        QThread::msleep(300);
        Readers[0] = std::make_unique<sim::SimReader>();
        const QString Link = Dir.filePath(QStringLiteral("tty0"));
        QFile::remove(Link);
        QElapsedTimer Clock;
        Clock.start();
        QFile::link(QString::fromStdString(Readers[0]->PortName()), Link);
        RunUntil([&] { return Readers[0]->WaitForFrames(1, std::chrono::milliseconds(0)); });
        Back.push_back(double(Clock.nsecsElapsed()) / 1e9);
    }
    const double Worst = *std::max_element(Back.begin(), Back.end());
    PrintFigure("agent: a reader back to held again (worst of 3)", Fixed(Worst, 2, "s"), "< 2 s", GoalMet(Worst < 2));

    Agent.terminate();
    if (!Agent.waitForFinished(10000))
        Fail("the agent did not stop on SIGTERM");
    return 0;
}
