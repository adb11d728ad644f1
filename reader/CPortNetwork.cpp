#include "reader/CPort.h"

#include "reader/CPortDevice.h"
#include "reader/CPortSocketOpen.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <utility>

namespace {

bool OnApplicationThread()
{
    const QCoreApplication* App = QCoreApplication::instance();
    return App && QThread::currentThread() == App->thread();
}

} // namespace

// On the application's thread the wait runs a local event loop without user input, so windows
// still paint. Handlers that run meanwhile may close, rename or delete this port: the opening is
// then given up, and nothing of the port is touched once it is gone.
std::unique_ptr<NetDevice::TLink> TCustomComPort::ConnectLink(const std::string& Url, const ComDevice::TLine& Line)
{
    if (FOpening != 0)
        throw EComPort(CE_OpenFailed, "The reader at " + Url + " is already being connected");
    NetDevice::TOpening Opening(Url, Line);
    const uint64_t Mine = FOpening = ++FOpenings;
    const QPointer<TCustomComPort> Self(this);
    if (!OnApplicationThread()) {
        Opening.Wait();
    } else if (!Opening.Finished()) {
        QEventLoop Loop;
        QSocketNotifier Done(Opening.DoneHandle(), QSocketNotifier::Read);
        // Once: the handle stays readable, and loops nested in this one would spin on it.
        QObject::connect(&Done, &QSocketNotifier::activated, &Loop, [&] {
            Done.setEnabled(false);
            Loop.quit();
        });
        QTimer::singleShot(Opening.MsLeft(), &Loop, &QEventLoop::quit);
        FOpenLoop = &Loop;
        // Events posted before this loop are delivered in it only once the dispatcher is woken:
        // other readers' opens, queued this way, then wait side by side with this one.
        if (QAbstractEventDispatcher* Dispatcher = QAbstractEventDispatcher::instance())
            Dispatcher->wakeUp();
        Loop.exec(QEventLoop::ExcludeUserInputEvents);
        if (Self && FOpenLoop == &Loop)
            FOpenLoop = nullptr;
    }
    if (!Self || FOpening != Mine)
        throw EComPort(CE_OpenFailed, Opening.Where() + "the port was closed while it was being connected");
    FOpening = 0;
    std::string Message;
    if (std::unique_ptr<NetDevice::TLink> Link = Opening.Take(Message))
        return Link;
    throw EComPort(CE_OpenFailed, Message);
}

void TCustomComPort::OpenPortLater(std::function<void(const QString& Error)> Done)
{
    const std::string Path = DevicePath(FPort).toStdString();
    if (FConnected || !NetDevice::IsUrl(Path)) {
        QString Error;
        try {
            OpenPort();
        } catch (const std::exception& E) {
            Error = QString::fromUtf8(E.what());
        }
        return Done(Error);
    }
    AbandonOpening();
    const ComDevice::TLine Line = LineSettings();
    auto Opening = std::make_shared<NetDevice::TOpening>(Path, Line);
    const uint64_t Mine = FOpening = ++FOpenings;
    // The worker's end or the bound, whichever comes first, once. Both are the port's children,
    // so a port destroyed meanwhile takes them (and gives the worker up) with it.
    auto* Ended = new QSocketNotifier(Opening->DoneHandle(), QSocketNotifier::Read, this);
    auto* Bound = new QTimer(this);
    Bound->setSingleShot(true);
    auto Finished = std::make_shared<bool>(false);
    const auto Finish = [this, Opening, Ended, Bound, Finished, Mine, Line, Done] {
        if (std::exchange(*Finished, true))
            return;
        Ended->setEnabled(false);
        Ended->deleteLater(); // its signal may be the one running
        Bound->stop();
        Bound->deleteLater();
        if (FOpening != Mine)
            return; // given up
        FOpening = 0;
        QString Error;
        try {
            std::string Message;
            FLink = Opening->Take(Message);
            if (!FLink)
                throw EComPort(CE_OpenFailed, Message);
            StartOn(FLink->Handle(), true, Line);
        } catch (const std::exception& E) {
            if (FConnected)
                ClosePort(); // all or nothing, as TDorvik::Connect
            FLink.reset();
            Error = QString::fromUtf8(E.what());
        }
        Done(Error);
    };
    connect(Ended, &QSocketNotifier::activated, this, Finish);
    connect(Bound, &QTimer::timeout, this, Finish);
    Bound->start(Opening->MsLeft());
}

void TCustomComPort::AbandonOpening()
{
    FOpening = 0;
    if (FOpenLoop)
        FOpenLoop->quit();
    FOpenLoop = nullptr;
}
