#include "discovery/SerialDeviceWatch.h"

#include "common/Errors.h"

#include <QSocketNotifier>

TSerialDeviceWatch::TSerialDeviceWatch(QObject* Owner)
    : QObject(Owner), FMonitor(std::make_unique<TUdevMonitor>(FUdev)),
      FNotifier(std::make_unique<QSocketNotifier>(FMonitor->Descriptor(), QSocketNotifier::Read))
{
    connect(FNotifier.get(), &QSocketNotifier::activated, this, [this] { NoticesWaiting(); });
}

TSerialDeviceWatch::~TSerialDeviceWatch() = default;

void TSerialDeviceWatch::NoticesWaiting()
{
    // Called from the event loop: nothing may unwind through it.
    try {
        bool Changed = false;
        while (const auto Notice = FMonitor->Receive())
            Changed = Changed || Notice->Action == u"add" || Notice->Action == u"remove";
        if (Changed && OnChange)
            OnChange();
    } catch (const std::exception& E) {
        ReportException(E);
    }
}
