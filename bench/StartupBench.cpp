// Start-up time of the real program: from just before the process is started to the end of the
// main window's first paint, on the offscreen platform. The program reports the moment through
// its start-up probe (ui/StartupProbe.h) and quits; this program notes the clock before starting
// it and takes the median of several runs.

#include "bench/BenchTable.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr int Rounds = 15;
constexpr double GoalMs = 500;

[[noreturn]] void Fail(const QString& What)
{
    std::fprintf(stderr, "bench_startup: %s\n", qPrintable(What));
    std::exit(1);
}

int64_t MonotonicNs()
{
    timespec Now{};
    clock_gettime(CLOCK_MONOTONIC, &Now);
    return int64_t(Now.tv_sec) * 1000000000 + Now.tv_nsec;
}

struct TRun
{
    double Ms = 0;
    long PeakKb = 0;
};

TRun StartOnce()
{
    QProcess Program;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    Env.insert(QStringLiteral("DORVIK_STARTUP_PROBE"), QStringLiteral("1"));
    Program.setProcessEnvironment(Env);
    Program.setProcessChannelMode(QProcess::ForwardedErrorChannel);

    const int64_t Started = MonotonicNs();
    Program.start(QStringLiteral(DORVIK_PROGRAM), {});
    if (!Program.waitForFinished(30000) || Program.exitStatus() != QProcess::NormalExit || Program.exitCode() != 0)
        Fail("the program did not start and quit cleanly: " + Program.errorString());
    const QString Output = QString::fromLocal8Bit(Program.readAllStandardOutput());
    static const QRegularExpression Probe(QStringLiteral("shown_monotonic_ns=(\\d+) .*vmhwm_kb=(-?\\d+)"));
    const QRegularExpressionMatch Found = Probe.match(Output);
    if (!Found.hasMatch())
        Fail("no probe line in the program's output: " + Output);
    return {double(Found.captured(1).toLongLong() - Started) / 1e6, Found.captured(2).toLong()};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication App(argc, argv);
    StartOnce(); // fills the file cache
    std::vector<double> Times;
    long PeakKb = 0;
    for (int Round = 0; Round < Rounds; ++Round) {
        const TRun Run = StartOnce();
        std::printf("run %2d: %.1f ms, VmHWM %ld kB\n", Round + 1, Run.Ms, Run.PeakKb);
        Times.push_back(Run.Ms);
        PeakKb = std::max(PeakKb, Run.PeakKb);
    }
    std::sort(Times.begin(), Times.end());
    const double Median = Times[Times.size() / 2];
    PrintFigure("start-up to main window shown (offscreen), median of " + std::to_string(Rounds),
                Fixed(Median, 1, "ms"), "< 500 ms", GoalMet(Median < GoalMs));
    PrintFigure("peak memory (VmHWM) at start-up", Fixed(double(PeakKb) / 1024, 1, "MB"));
    return 0;
}
