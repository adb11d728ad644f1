#include "ui/StartupProbe.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

int64_t Nanoseconds(clockid_t Clock)
{
    timespec Now{};
    clock_gettime(Clock, &Now);
    return int64_t(Now.tv_sec) * 1000000000 + Now.tv_nsec;
}

// The process's start in CLOCK_BOOTTIME nanoseconds, from field 22 of /proc/self/stat (clock
// ticks since boot); -1 when it cannot be read.
int64_t ProcessStartNs()
{
    QFile Stat(QStringLiteral("/proc/self/stat"));
    if (!Stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray Line = Stat.readAll();
    // The command name in field 2 may hold spaces; the fields after it may not.
    const QList<QByteArray> Fields = Line.mid(Line.lastIndexOf(')') + 2).split(' ');
    constexpr int StartTimeAfterName = 22 - 3;
    if (Fields.size() <= StartTimeAfterName)
        return -1;
    bool Ok = false;
    const qlonglong Ticks = Fields[StartTimeAfterName].toLongLong(&Ok);
    const long TicksPerSecond = sysconf(_SC_CLK_TCK);
    return Ok && TicksPerSecond > 0 ? int64_t(Ticks) * (1000000000 / TicksPerSecond) : -1;
}

long PeakResidentKb()
{
    QFile Status(QStringLiteral("/proc/self/status"));
    if (!Status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& Line : Status.readAll().split('\n'))
        if (Line.startsWith("VmHWM:"))
            return Line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

class TStartupProbe : public QObject
{
public:
    explicit TStartupProbe(QWidget& Window) : QObject(&Window) { Window.installEventFilter(this); }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override
    {
        if (Event->type() == QEvent::Paint) {
            Watched->removeEventFilter(this);
            // Zero time: runs once this paint has been drawn and handed to the screen.
            QTimer::singleShot(0, this, &TStartupProbe::Report);
        }
        return false;
    }

private:
    void Report()
    {
        const int64_t Shown = Nanoseconds(CLOCK_MONOTONIC);
        const int64_t Start = ProcessStartNs();
        const double SinceStartMs = Start < 0 ? -1 : double(Nanoseconds(CLOCK_BOOTTIME) - Start) / 1e6;
        std::printf("dorvik startup: shown_monotonic_ns=%lld since_process_start_ms=%.0f vmhwm_kb=%ld\n",
                    static_cast<long long>(Shown), SinceStartMs, PeakResidentKb());
        std::fflush(stdout);
        QCoreApplication::quit();
    }
};

} // namespace

void InstallStartupProbe(QWidget& MainWindow)
{
    const QByteArray Setting = qgetenv("DORVIK_STARTUP_PROBE");
    if (!Setting.isEmpty() && Setting != "0")
        new TStartupProbe(MainWindow); // owned by the window
}
