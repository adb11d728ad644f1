#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

// The libudev side of device discovery: what the system knows about serial devices on USB,
// reduced to names and hardware id texts. Every libudev handle here has an owner.

struct udev;
struct udev_monitor;

struct TUdevRelease
{
    void operator()(udev* Handle) const;
    void operator()(udev_monitor* Handle) const;
};
using TUdevHandle = std::unique_ptr<udev, TUdevRelease>;
using TUdevMonitorHandle = std::unique_ptr<udev_monitor, TUdevRelease>;

// A serial device that sits on a USB device. HardwareId is the USB device's id in the form
// "USB\VID_10C4&PID_EA60&REV_0100".
struct TUsbSerialDevice
{
    QString Name;
    QString HardwareId;
};

// A serial device that was added, removed or changed ("add", "remove", "change"...). HardwareId
// is empty when the device is not on USB or its ids are unknown.
struct TSerialDeviceNotice
{
    QString Action;
    QString HardwareId;
};

class TUdev
{
public:
    // Throws Exception ("System Error.  Code: %d.\r\n" and the system's text) when the library
    // cannot start.
    TUdev();

    // Calls Visit for every present serial device on a USB device, in the order in which the
    // system lists them. Lists nothing when the devices cannot be listed, skips a device that
    // vanishes meanwhile, and throws Exception with the system's text when a USB device's ids
    // cannot be read.
    void ForEachUsbSerialDevice(const std::function<void(const TUsbSerialDevice&)>& Visit) const;

    udev* Handle() const { return FUdev.get(); }

private:
    TUdevHandle FUdev;
};

// Notices of serial devices from the udev daemon. Non-blocking: Descriptor() becomes readable
// when notices are waiting.
class TUdevMonitor
{
public:
    // Throws Exception, worded as TUdev's, when the subscription fails.
    explicit TUdevMonitor(const TUdev& Udev);

    int Descriptor() const;

    // The next waiting notice, or none when none is waiting.
    std::optional<TSerialDeviceNotice> Receive();

private:
    TUdevHandle FUdev;
    TUdevMonitorHandle FMonitor;
};
