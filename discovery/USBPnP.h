#pragma once

#include "common/Events.h"
#include "discovery/UdevDevices.h"

#include <QObject>
#include <QStringList>

#include <memory>

class QSocketNotifier;

// Keeps the serial port names of the attached USB devices whose hardware id contains
// HardwareId, and rebuilds them when such a device is plugged in or removed. The owner sets
// HardwareId and OnChange, then calls Refresh once.
class TUSBPnP : public QObject
{
    Q_OBJECT

public:
    // Throws Exception when the device notices cannot be subscribed to.
    explicit TUSBPnP(QObject* Owner);
    ~TUSBPnP() override;

    const QString& HardwareId() const { return FHardwareId; }
    void SetHardwareId(const QString& Value) { FHardwareId = Value; }

    // One name per matching serial device (ttyUSB0), in the order the system lists them, then
    // the entries of DORVIK_EXTRA_PORTS and the network readers of the settings (ExtraPorts).
    // Empty until the first Refresh.
    const QStringList& Ports() const { return FPorts; }

    // Raised at the end of every Refresh, also when nothing changed.
    TNotifyEvent OnChange;

    // Rebuilds Ports and raises OnChange. Throws Exception when a device's ids cannot be read;
    // Ports then holds the names found before it and OnChange is not raised.
    void Refresh();

    // Subscribes to (and cancels) the notices of serial devices coming and going. Not virtual:
    // the constructor and destructor call them, where no override would run.
    void RegisterNotification();
    void UnregisterNotification();

protected:
    // Refreshes on a plugged or removed serial device whose hardware id matches.
    virtual void DeviceChange(const TSerialDeviceNotice& Notice);

private:
    bool Matches(const QString& Text) const;
    void NoticesWaiting();

    TUdev FUdev;
    std::unique_ptr<TUdevMonitor> FMonitor;
    std::unique_ptr<QSocketNotifier> FNotifier;
    QString FHardwareId;
    QStringList FPorts;
};
