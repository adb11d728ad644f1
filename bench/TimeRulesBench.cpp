// dorvik-agent keeping time for simulated readers that answer at a real line's pace: how soon
// after a boundary of the site list's rules a reader holds its new list of 250 cards, verified,
// beside the time the write itself takes; and whether the agent wakes at all while its next
// boundary is hours away. The boundary is a real one of the wall clock (the site file's times
// are whole minutes), so the bench waits for the next whole minute.

#include "bench/BenchTable.h"
#include "bench/ProcStatus.h"
#include "sim/SimFrames.h"
#include "sim/SimReader.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Wall = std::chrono::system_clock;

constexpr int ReaderCards = 250; // a reader's most, the master card among them
constexpr uint32_t MasterValue = 4000000;
constexpr uint32_t FirstValue = 5000000;
constexpr int IdleDoors = 4;
constexpr int IdleHours = 6; // to the idle agent's next boundary
// Time for the agent to start and read its reader before the boundary comes.
constexpr auto Lead = 5s;

[[noreturn]] void Fail(const std::string& What) { BenchFailed("bench_time_rules", What); }

double MsBetween(Wall::time_point From, Wall::time_point To)
{
    return std::chrono::duration<double, std::milli>(To - From).count();
}

Wall::time_point WallOf(const QDateTime& At) { return Wall::time_point(std::chrono::milliseconds(At.toMSecsSinceEpoch())); }

sim::CardBytes CardOf(uint32_t Value)
{
    return {0, uint8_t(Value >> 24), uint8_t(Value >> 16), uint8_t(Value >> 8), uint8_t(Value)};
}

// The site's time zone is UTC ([site] time-zone below), so the file's times are UTC's.
QString SiteTime(const QDateTime& Utc) { return Utc.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm")); }

// Runs the event loop, asleep between events, until Condition holds.
void RunUntil(const std::function<bool()>& Condition, qint64 Ms)
{
    if (Condition())
        return;
    QEventLoop Loop;
    QTimer Check, GiveUp;
    QObject::connect(&Check, &QTimer::timeout, &Loop, [&] {
        if (Condition())
            Loop.quit();
    });
    QObject::connect(&GiveUp, &QTimer::timeout, [] { Fail("timed out"); });
    Check.start(5);
    GiveUp.setSingleShot(true);
    GiveUp.start(int(Ms));
    Loop.exec();
}

// A simulated reader whose answers come as late as a real 19200 bit/s line (1920 bytes a second)
// brings them: a card written is 9 bytes out and 4 back (6.8 ms), a card read back 9 bytes
// (4.7 ms); in whole milliseconds rounded up, so a write takes if anything longer than on a real
// line. It notes when a write began and when a read's last frame was sent.
struct TPacedReader
{
    TPacedReader()
    {
        Sim.SetObserver([this](sim::SimReader::Direction Way, const sim::Frame& Bytes) {
            const uint8_t Code = Bytes.size() > 2 ? Bytes[2] : 0;
            const int64_t Now = Wall::now().time_since_epoch().count();
            if (Way == sim::SimReader::Direction::Received) {
                Sim.SetReplyDelay(Code == sim::CodeRead ? 5ms : 7ms);
                if (Code == sim::CodeWrite)
                    WriteBegun = Now;
            } else if (Way == sim::SimReader::Direction::Sent && Code == sim::CodeEnd) {
                ReadEnded = Now;
            }
        });
    }

    std::atomic<int64_t> WriteBegun{0}; // Wall's ticks
    std::atomic<int64_t> ReadEnded{0};
    sim::SimReader Sim; // last: its thread notes into the above until it ends
};

Wall::time_point WallAt(int64_t Ticks) { return Wall::time_point(Wall::duration(Ticks)); }

// dorvik-agent over paced readers, its doors door-0, door-1... all following one site file, run
// as systemd runs it; its journal kept line by line with the wall-clock time each line came.
class TAgentRun
{
public:
    // Each reader starts out holding Held, the first card its master.
    TAgentRun(int Doors, const QByteArray& Site, const QByteArray& Schedules, const std::vector<sim::CardBytes>& Held)
    {
        if (!FDir.isValid())
            Fail("cannot make a folder");
        QByteArray Config;
        for (int I = 0; I < Doors; ++I) {
            FReaders.push_back(std::make_unique<TPacedReader>());
            FReaders.back()->Sim.SetCards(Held);
            FReaders.back()->Sim.SetMaster(0);
            const QString Link = FDir.filePath(QStringLiteral("tty%1").arg(I));
            QFile::link(QString::fromStdString(FReaders.back()->Sim.PortName()), Link);
            Config += QStringLiteral("[door-%1]\nport = %2\nsite-file = site.csv\n").arg(I).arg(Link).toUtf8();
        }
        // This machine's clock need not say it is synchronized; a site without network time trusts
        // it so, and the rules are applied at once.
        Config += "[site]\ntime-zone = UTC\ntrust-clock = yes\n[log]\npath = access.db\n" + Schedules;
        Save(QStringLiteral("site.csv"), Site);
        Save(QStringLiteral("agent.conf"), Config);

        QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
        Env.insert(QStringLiteral("RUNTIME_DIRECTORY"), FDir.filePath(QStringLiteral("run")));
        Env.insert(QStringLiteral("STATE_DIRECTORY"), FDir.path());
        FAgent.setProcessEnvironment(Env);
        QObject::connect(&FAgent, &QProcess::readyReadStandardError, [this] {
            FAgent.setReadChannel(QProcess::StandardError);
            while (FAgent.canReadLine())
                FLines.emplace_back(FAgent.readLine(), Wall::now());
        });
        FAgent.start(QStringLiteral(DORVIK_AGENT), {QStringLiteral("--config"), FDir.filePath(QStringLiteral("agent.conf"))});
        if (!FAgent.waitForStarted())
            Fail("the agent did not start");
    }

    ~TAgentRun()
    {
        FAgent.terminate();
        FAgent.waitForFinished(10000);
    }

    TAgentRun(const TAgentRun&) = delete;
    TAgentRun& operator=(const TAgentRun&) = delete;

    qint64 Pid() const { return FAgent.processId(); }
    TPacedReader& Reader(int I) { return *FReaders[size_t(I)]; }

    // When the journal first had a line holding Text.
    std::optional<Wall::time_point> Said(const QByteArray& Text) const
    {
        for (const auto& [Line, At] : FLines)
            if (Line.contains(Text))
                return At;
        return std::nullopt;
    }

    Wall::time_point AwaitSaid(const QByteArray& Text, qint64 Ms)
    {
        RunUntil([&] { return Said(Text).has_value(); }, Ms);
        return *Said(Text);
    }

private:
    void Save(const QString& Name, const QByteArray& Bytes)
    {
        QFile File(FDir.filePath(Name));
        if (!File.open(QIODevice::WriteOnly) || File.write(Bytes) != Bytes.size())
            Fail("cannot write " + Name.toStdString());
    }

    QTemporaryDir FDir;
    std::vector<std::unique_ptr<TPacedReader>> FReaders;
    QProcess FAgent;
    std::vector<std::pair<QByteArray, Wall::time_point>> FLines;
};

// The master and 249 cards that all come on at From.
QByteArray BoundarySite(const QDateTime& From)
{
    QByteArray Site = "card,name,master,from,until\n";
    Site += QStringLiteral("%1,Master,yes,,\n").arg(MasterValue).toUtf8();
    for (int I = 1; I < ReaderCards; ++I)
        Site += QStringLiteral("%1,Card %2,,%3,\n").arg(FirstValue + uint32_t(I)).arg(I).arg(SiteTime(From)).toUtf8();
    return Site;
}

// A site whose next boundary is hours away: cards from yesterday, a third of them until a few hours
// from now, some on a schedule whose hours are three days off.
QByteArray IdleSite(const QDateTime& Now)
{
    const QString Since = Now.addDays(-1).toUTC().date().toString(Qt::ISODate);
    const QString Until = SiteTime(Now.addSecs(qint64(IdleHours) * 3600 + 60));
    QByteArray Site = "card,name,master,from,until";
    for (int D = 0; D < IdleDoors; ++D)
        Site += QStringLiteral(",door-%1").arg(D).toUtf8();
    Site += QStringLiteral("\n%1,Master,yes,,").arg(MasterValue).toUtf8() + QByteArray(IdleDoors, ',') + '\n';
    for (int I = 1; I < ReaderCards; ++I) {
        Site += QStringLiteral("%1,Card %2,,%3,%4").arg(FirstValue + uint32_t(I)).arg(I).arg(Since, I % 3 ? QString() : Until).toUtf8();
        for (int D = 0; D < IdleDoors; ++D)
            Site += (I + D) % 4 ? ",yes" : ",later";
        Site += '\n';
    }
    return Site;
}

QByteArray IdleSchedule(const QDateTime& Now)
{
    static const char* const Days[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
    return QByteArray("[schedule later]\n") + Days[Now.toUTC().date().addDays(3).dayOfWeek() - 1] + " = 08:00-18:00\n";
}

// From the boundary instant to the journal's word that the reader holds the list, verified, and
// the write's own part of it.
void BoundaryToVerified()
{
    QDateTime Boundary = QDateTime::currentDateTimeUtc().addSecs(std::chrono::seconds(Lead).count());
    Boundary = Boundary.addSecs(60 - Boundary.time().second()).addMSecs(-Boundary.time().msec());
    TAgentRun Run(1, BoundarySite(Boundary), {}, {CardOf(MasterValue)});
    const QByteArray Door = "door-0: ";
    Run.AwaitSaid(Door + "the reader holds 1 cards", 10000);
    if (Wall::now() >= WallOf(Boundary) || Run.Said(Door + "writing"))
        Fail("the agent was not ready and idle before the boundary; run again");
    std::printf("waiting for the boundary at %s UTC\n", qPrintable(SiteTime(Boundary)));
    std::fflush(stdout);

    const auto Verified = Run.AwaitSaid("verified 250 cards", MsBetween(Wall::now(), WallOf(Boundary)) + 30000);
    const auto At = WallOf(Boundary);
    const auto Writing = *Run.Said(Door + "writing");
    if (Writing < At)
        Fail("the list was written before its boundary");
    const double Write = MsBetween(Writing, Verified), Rest = MsBetween(At, Verified) - Write;
    const auto Changed = Run.Said(Door + SiteTime(Boundary).right(5).toUtf8() + ": +");
    std::printf("from the boundary: the change said at +%.1f ms, writing at +%.1f ms, verified at +%.1f ms; "
                "on the reader: the write begun at +%.1f ms, the read back ended at +%.1f ms\n",
                Changed ? MsBetween(At, *Changed) : -1.0, MsBetween(At, Writing), MsBetween(At, Verified),
                MsBetween(At, WallAt(Run.Reader(0).WriteBegun)), MsBetween(At, WallAt(Run.Reader(0).ReadEnded)));
    PrintFigure("agent: a boundary to the verified list on a line-paced reader, 250 cards",
                Fixed(Write / 1000, 2, "s") + " write + " + Fixed(Rest, 0, "ms"), "write + < 1 s", GoalMet(Rest < 1000));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication App(argc, argv);
    const int IdleSeconds = qEnvironmentVariableIsSet("DORVIK_BENCH_IDLE_SECONDS")
        ? qEnvironmentVariableIntValue("DORVIK_BENCH_IDLE_SECONDS") : 60;

    // The idle agent's quiet time is counted while the other waits for its boundary.
    const QDateTime Now = QDateTime::currentDateTimeUtc();
    TAgentRun Idle(IdleDoors, IdleSite(Now), IdleSchedule(Now), {});
    for (int D = 0; D < IdleDoors; ++D)
        Idle.AwaitSaid(QStringLiteral("door-%1: wrote").arg(D).toUtf8(), 30000);
    QThread::msleep(500); // every door's read back has ended
    const long WakeBefore = WakeUps(Idle.Pid());
    std::optional<long> Woke;
    QTimer::singleShot(IdleSeconds * 1000, [&] { Woke = WakeUps(Idle.Pid()) - WakeBefore; });

    BoundaryToVerified();

    RunUntil([&] { return Woke.has_value(); }, qint64(IdleSeconds) * 1000 + 10000);
    PrintFigure("agent, " + std::to_string(IdleDoors) + " doors, next boundary " + std::to_string(IdleHours) +
                    " h away: wake-ups over " + std::to_string(IdleSeconds) + " s idle",
                std::to_string(*Woke), "0", GoalMet(*Woke == 0));
    return 0;
}
