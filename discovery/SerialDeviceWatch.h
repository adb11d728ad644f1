#pragma once

#include "discovery/UdevDevices.h"

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

// Hears every serial device that is added or removed, whatever its maker: a port is often a
// /dev/serial/by-id/ path of any adapter, so whoever waits for one tries again on any of them.
class TSerialDeviceWatch : public QObject
{
public:
    // Raises Exception when the system's device notices cannot be subscribed to.
    explicit TSerialDeviceWatch(QObject* Owner = nullptr);
    ~TSerialDeviceWatch() override;

    // Once for each burst of notices waiting together.
    std::function<void()> OnChange;

private:
    void NoticesWaiting();

    TUdev FUdev;
    std::unique_ptr<TUdevMonitor> FMonitor;
    std::unique_ptr<QSocketNotifier> FNotifier;
};
