// Peak memory of the program after a read of 250 cards. Measured in this process, which is set up
// as the program is (the skin, the main window and the progress window, shown offscreen) and
// reads from a simulated reader on a pseudo-terminal through the main window's reader component.
// The simulated reader's thread and its few kilobytes count too, so the figure errs high.

#include "bench/BenchCards.h"
#include "bench/BenchTable.h"
#include "common/Errors.h"
#include "reader/Dorvik.h"
#include "sim/SimReader.h"
#include "ui/MainFrm.h"
#include "ui/ProgressFrm.h"
#include "ui/Skin.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTreeView>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

constexpr int CardCount = 250;
constexpr double GoalMb = 80;

[[noreturn]] void Fail(const char* What) { BenchFailed("bench_memory", What); }

// A "Vm...:" line of /proc/self/status, in kB.
long StatusKb(const char* Field)
{
    QFile Status(QStringLiteral("/proc/self/status"));
    if (!Status.open(QIODevice::ReadOnly))
        Fail("cannot read /proc/self/status");
    const QByteArray Key = QByteArray(Field) + ':';
    for (const QByteArray& Line : Status.readAll().split('\n'))
        if (Line.startsWith(Key))
            return Line.mid(Key.size()).trimmed().split(' ').first().toLong();
    Fail("no such field in /proc/self/status");
}

double Mb(long Kb) { return double(Kb) / 1024; }

void RunUntil(const std::function<bool()>& Condition)
{
    QDeadlineTimer GiveUp(10000);
    while (!Condition()) {
        if (GiveUp.hasExpired())
            Fail("the read did not end");
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication Application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dorvik"));
    ApplySkin(Application);
    SetExceptionReporter([](const std::exception& E) { Fail(E.what()); });

    sim::SimReader Sim; // outlives the window, which disconnects when it closes
    Sim.SetCards(BenchCards(CardCount));
    TMainForm MainForm;
    TProgressForm ProgressForm(&MainForm);
    MainForm.SetProgressForm(&ProgressForm);
    MainForm.show();
    QApplication::processEvents();
    const long AtStartKb = StatusKb("VmHWM");

    TDorvik& Reader = *MainForm.CardReader();
    Reader.SetPort(QString::fromStdString(Sim.PortName()));
    Reader.Connect();
    const QAbstractItemModel* Rows = MainForm.findChild<QTreeView*>(QStringLiteral("lstCards"))->model();
    Reader.ReadDatabase();
    RunUntil([&] { return Rows->rowCount() == CardCount && !ProgressForm.isVisible(); });
    // Let the view paint the new rows before measuring.
    QApplication::processEvents();

    const long PeakKb = StatusKb("VmHWM");
    std::printf("VmHWM after start-up: %ld kB; after the read: %ld kB; VmRSS now: %ld kB\n", AtStartKb, PeakKb,
                StatusKb("VmRSS"));
    PrintFigure("peak memory (VmHWM) after a read of 250 cards, in-process", Fixed(Mb(PeakKb), 1, "MB"),
                "< 80 MB", GoalMet(Mb(PeakKb) < GoalMb));
    return 0;
}
