#include "discovery/USBPnP.h"

#include "common/Errors.h"
#include "discovery/ExtraPorts.h"

#include <QSocketNotifier>

TUSBPnP::TUSBPnP(QObject* Owner)
    : QObject(Owner)
{
    RegisterNotification();
}

TUSBPnP::~TUSBPnP() { UnregisterNotification(); }

void TUSBPnP::Refresh()
{
    FPorts.clear();
    FUdev.ForEachUsbSerialDevice([this](const TUsbSerialDevice& Device) {
        if (Matches(Device.HardwareId))
            FPorts.append(Device.Name);
    });
    FPorts.append(ExtraPorts());
    Fire(OnChange, this);
}

void TUSBPnP::RegisterNotification()
{
    if (FMonitor)
        return;
    FMonitor = std::make_unique<TUdevMonitor>(FUdev);
    FNotifier = std::make_unique<QSocketNotifier>(FMonitor->Descriptor(), QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, &TUSBPnP::NoticesWaiting);
}

void TUSBPnP::UnregisterNotification()
{
    FNotifier.reset();
    FMonitor.reset();
}

void TUSBPnP::DeviceChange(const TSerialDeviceNotice& Notice)
{
    const bool PluggedOrRemoved = Notice.Action == u"add" || Notice.Action == u"remove";
    if (PluggedOrRemoved && Matches(Notice.HardwareId))
        Refresh();
}

bool TUSBPnP::Matches(const QString& Text) const
{
    return !FHardwareId.isEmpty() && Text.contains(FHardwareId, Qt::CaseInsensitive);
}

void TUSBPnP::NoticesWaiting()
{
    // Called from the event loop: nothing may unwind through it.
    try {
        while (FMonitor) {
            const auto Notice = FMonitor->Receive();
            if (!Notice)
                break;
            DeviceChange(*Notice);
        }
    } catch (const std::exception& E) {
        ReportException(E);
    }
}
