#include "discovery/UdevDevices.h"

#include "common/Errors.h"

#include <libudev.h>

#include <cerrno>
#include <system_error>

namespace {

struct TDeviceRelease
{
    void operator()(udev_device* Handle) const { udev_device_unref(Handle); }
    void operator()(udev_enumerate* Handle) const { udev_enumerate_unref(Handle); }
};
using TDeviceHandle = std::unique_ptr<udev_device, TDeviceRelease>;
using TEnumerateHandle = std::unique_ptr<udev_enumerate, TDeviceRelease>;

struct TUsbIds
{
    uint16_t Vendor = 0;
    uint16_t Product = 0;
    uint16_t Revision = 0;
};

QString SystemText(int Code) { return QString::fromStdString(std::generic_category().message(Code)); }

// The failure of an OS call as the user reads it; Code is an errno value, 0 when unknown.
QString SystemErrorMessage(int Code)
{
    if (Code == 0)
        return QStringLiteral("A call to an OS function failed");
    return QString::asprintf("System Error.  Code: %d.\r\n", Code) + SystemText(Code);
}

[[noreturn]] void RaiseSystemError(int Code) { throw Exception(SystemErrorMessage(Code).toStdString()); }

std::optional<uint16_t> ParseHex(const char* Text)
{
    if (!Text)
        return std::nullopt;
    bool Ok = false;
    const uint Value = QString::fromLatin1(Text).trimmed().toUInt(&Ok, 16);
    if (!Ok || Value > 0xFFFF)
        return std::nullopt;
    return static_cast<uint16_t>(Value);
}

// One of a USB device's id attributes, such as idVendor = "10c4". Error gets the errno value
// when it cannot be read.
std::optional<uint16_t> HexAttribute(udev_device* Device, const char* Name, int& Error)
{
    errno = 0;
    const char* Text = udev_device_get_sysattr_value(Device, Name);
    if (!Text) {
        Error = errno ? errno : ENOENT;
        return std::nullopt;
    }
    const std::optional<uint16_t> Value = ParseHex(Text);
    if (!Value)
        Error = EINVAL;
    return Value;
}

std::optional<TUsbIds> AttributeIds(udev_device* Usb, int& Error)
{
    const auto Vendor = HexAttribute(Usb, "idVendor", Error);
    const auto Product = Vendor ? HexAttribute(Usb, "idProduct", Error) : std::nullopt;
    const auto Revision = Product ? HexAttribute(Usb, "bcdDevice", Error) : std::nullopt;
    if (!Revision)
        return std::nullopt;
    return TUsbIds{*Vendor, *Product, *Revision};
}

// The ids that udev's rules copied onto a serial device. They come with a remove notice too,
// when the device's sysfs entries are already gone.
std::optional<TUsbIds> PropertyIds(udev_device* Device)
{
    const auto Vendor = ParseHex(udev_device_get_property_value(Device, "ID_VENDOR_ID"));
    const auto Product = ParseHex(udev_device_get_property_value(Device, "ID_MODEL_ID"));
    const auto Revision = ParseHex(udev_device_get_property_value(Device, "ID_REVISION"));
    if (!Vendor || !Product || !Revision)
        return std::nullopt;
    return TUsbIds{*Vendor, *Product, *Revision};
}

// The USB device a serial device hangs on; it belongs to Device.
udev_device* UsbDeviceOf(udev_device* Device)
{
    return udev_device_get_parent_with_subsystem_devtype(Device, "usb", "usb_device");
}

// The USB device's first hardware id, in the form that HardwareId is matched against.
QString HardwareIdOf(const TUsbIds& Ids)
{
    return QString::asprintf("USB\\VID_%04X&PID_%04X&REV_%04X", Ids.Vendor, Ids.Product, Ids.Revision);
}

QString NoticeHardwareId(udev_device* Device)
{
    if (const auto Ids = PropertyIds(Device))
        return HardwareIdOf(*Ids);
    udev_device* Usb = UsbDeviceOf(Device);
    int Error = 0;
    const auto Ids = Usb ? AttributeIds(Usb, Error) : std::nullopt;
    return Ids ? HardwareIdOf(*Ids) : QString();
}

} // namespace

void TUdevRelease::operator()(udev* Handle) const { udev_unref(Handle); }
void TUdevRelease::operator()(udev_monitor* Handle) const { udev_monitor_unref(Handle); }

TUdev::TUdev()
{
    errno = 0;
    FUdev.reset(udev_new());
    if (!FUdev)
        RaiseSystemError(errno);
}

void TUdev::ForEachUsbSerialDevice(const std::function<void(const TUsbSerialDevice&)>& Visit) const
{
    TEnumerateHandle Enumerate(udev_enumerate_new(FUdev.get()));
    if (!Enumerate || udev_enumerate_add_match_subsystem(Enumerate.get(), "tty") < 0
        || udev_enumerate_scan_devices(Enumerate.get()) < 0)
        return;

    udev_list_entry* Entry = nullptr;
    udev_list_entry_foreach(Entry, udev_enumerate_get_list_entry(Enumerate.get()))
    {
        TDeviceHandle Serial(udev_device_new_from_syspath(FUdev.get(), udev_list_entry_get_name(Entry)));
        udev_device* Usb = Serial ? UsbDeviceOf(Serial.get()) : nullptr;
        if (!Usb)
            continue;
        int Error = 0;
        const auto Ids = AttributeIds(Usb, Error);
        if (!Ids)
            throw Exception(SystemText(Error).toStdString());
        Visit({QString::fromLocal8Bit(udev_device_get_sysname(Serial.get())), HardwareIdOf(*Ids)});
    }
}

TUdevMonitor::TUdevMonitor(const TUdev& Udev)
    : FUdev(udev_ref(Udev.Handle()))
{
    errno = 0;
    FMonitor.reset(udev_monitor_new_from_netlink(FUdev.get(), "udev"));
    if (!FMonitor)
        RaiseSystemError(errno);
    if (const int Result = udev_monitor_filter_add_match_subsystem_devtype(FMonitor.get(), "tty", nullptr); Result < 0)
        RaiseSystemError(-Result);
    if (const int Result = udev_monitor_enable_receiving(FMonitor.get()); Result < 0)
        RaiseSystemError(-Result);
}

int TUdevMonitor::Descriptor() const { return udev_monitor_get_fd(FMonitor.get()); }

std::optional<TSerialDeviceNotice> TUdevMonitor::Receive()
{
    TDeviceHandle Device(udev_monitor_receive_device(FMonitor.get()));
    if (!Device)
        return std::nullopt;
    const char* Action = udev_device_get_action(Device.get());
    return TSerialDeviceNotice{QString::fromLatin1(Action ? Action : ""), NoticeHardwareId(Device.get())};
}
