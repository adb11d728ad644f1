#pragma once

// No Qt here: umockdev's GLib headers and Qt's "signals" macro must not meet.
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

// The ids of a USB device as its sysfs attributes hold them; an empty one is missing.
struct TUsbIds
{
    std::string Vendor = "10c4";
    std::string Product = "ea60";
    std::string Revision = "0100";
};

// A USB serial adapter in the fake system: the USB device and its serial device.
struct TMockAdapter
{
    std::string Usb;
    std::string Serial;
};

// A fake sysfs and udev, on umockdev's in-process test bed, that the real libudev code reads and
// hears notices from. Needs umockdev's preload library in the process (UdevMain.cpp sees to it).
class TMockUsb
{
public:
    TMockUsb();
    ~TMockUsb();
    TMockUsb(const TMockUsb&) = delete;
    TMockUsb& operator=(const TMockUsb&) = delete;

    // Whether the libraries of this process see the fake system: only with the preload library.
    bool Active() const;

    // Each of these announces the new device with an "add" notice, as udev does; they return the
    // device's sysfs path. Devices are listed in the order of their sysfs paths, so UsbName
    // ("1-1", "1-2") fixes the enumeration order.
    std::string AddUsbDevice(const std::string& UsbName, const TUsbIds& Ids);
    // WithUdevIds: the ID_VENDOR_ID/ID_MODEL_ID/ID_REVISION properties that udev's rules give
    // a serial device on USB; without them only the parent's attributes tell the ids.
    // WithNode: its /dev node too, a pseudo-terminal (which umockdev's ioctls do not take for a
    // terminal: opening it as a port fails with ENOTTY).
    std::string AddSerial(const std::string& UsbPath, const std::string& TtyName, const TUsbIds& Ids,
                          bool WithUdevIds = true, bool WithNode = false);
    TMockAdapter Plug(const std::string& UsbName, const std::string& TtyName, const TUsbIds& Ids = {});

    // Sends a notice about a device, such as "change".
    void Notify(const std::string& SysPath, const char* Action);

    // Removes a device as the system does: the "remove" notice, then the sysfs entry.
    void Remove(const std::string& SysPath);
    void Unplug(const TMockAdapter& Adapter);

private:
    std::string AddDevice(const char* Subsystem, const std::string& Name, const std::string& Parent,
                          const std::vector<std::string>& Attributes, const std::vector<std::string>& Properties);

    UMockdevTestbed* FTestbed;
};
