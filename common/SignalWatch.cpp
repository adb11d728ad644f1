#include "common/SignalWatch.h"

#include "common/Errors.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

sigset_t Watched()
{
    sigset_t Set;
    sigemptyset(&Set);
    for (int S : {SIGHUP, SIGTERM, SIGINT})
        sigaddset(&Set, S);
    return Set;
}

} // namespace

void TSignalWatch::BlockSignals()
{
    const sigset_t Set = Watched();
    pthread_sigmask(SIG_BLOCK, &Set, nullptr);
}

TSignalWatch::TSignalWatch(QObject* Owner) : QObject(Owner)
{
    const sigset_t Set = Watched();
    FHandle = signalfd(-1, &Set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (FHandle < 0)
        throw Exception(std::string("Cannot watch signals: ") + std::strerror(errno));
    FNotifier = std::make_unique<QSocketNotifier>(FHandle, QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, [this] { Arrived(); });
}

TSignalWatch::~TSignalWatch()
{
    FNotifier.reset();
    ::close(FHandle);
}

void TSignalWatch::Arrived()
{
    signalfd_siginfo Info;
    while (::read(FHandle, &Info, sizeof Info) == ssize_t(sizeof Info)) {
        // Called from the event loop: nothing may unwind through it.
        try {
            if (Info.ssi_signo == SIGHUP && OnReload)
                OnReload();
            else if (Info.ssi_signo != SIGHUP && OnStop)
                OnStop();
        } catch (const std::exception& E) {
            ReportException(E);
        }
    }
}
