#include "MockUsb.h"

#include <umockdev.h>

#include <stdexcept>

namespace {

// The NULL-terminated name/value array that umockdev takes.
std::vector<gchar*> Pairs(const std::vector<std::string>& Items)
{
    std::vector<gchar*> Result;
    for (const std::string& Item : Items)
        Result.push_back(const_cast<gchar*>(Item.c_str()));
    Result.push_back(nullptr);
    return Result;
}

} // namespace

TMockUsb::TMockUsb()
    : FTestbed(umockdev_testbed_new())
{
}

TMockUsb::~TMockUsb() { g_object_unref(FTestbed); }

bool TMockUsb::Active() const { return umockdev_in_mock_environment(); }

std::string TMockUsb::AddDevice(const char* Subsystem, const std::string& Name, const std::string& Parent,
                                const std::vector<std::string>& Attributes,
                                const std::vector<std::string>& Properties)
{
    auto AttributeArray = Pairs(Attributes);
    auto PropertyArray = Pairs(Properties);
    gchar* Path = umockdev_testbed_add_devicev(FTestbed, Subsystem, Name.c_str(),
                                               Parent.empty() ? nullptr : Parent.c_str(),
                                               AttributeArray.data(), PropertyArray.data());
    if (!Path)
        throw std::runtime_error("umockdev could not add " + Name);
    std::string Result(Path);
    g_free(Path);
    return Result;
}

std::string TMockUsb::AddUsbDevice(const std::string& UsbName, const TUsbIds& Ids)
{
    std::vector<std::string> Attributes;
    for (const auto& [Name, Value] : {std::pair{"idVendor", Ids.Vendor}, std::pair{"idProduct", Ids.Product},
                                      std::pair{"bcdDevice", Ids.Revision}}) {
        if (!Value.empty())
            Attributes.insert(Attributes.end(), {Name, Value});
    }
    return AddDevice("usb", UsbName, "", Attributes, {"DEVTYPE", "usb_device"});
}

std::string TMockUsb::AddSerial(const std::string& UsbPath, const std::string& TtyName, const TUsbIds& Ids,
                                bool WithUdevIds, bool WithNode)
{
    std::vector<std::string> Properties{"ID_BUS", "usb"};
    if (WithUdevIds)
        Properties.insert(Properties.end(),
                          {"ID_VENDOR_ID", Ids.Vendor, "ID_MODEL_ID", Ids.Product, "ID_REVISION", Ids.Revision});
    if (WithNode) {
        // Described as a recorded device, it gets a node: for a tty, a pseudo-terminal.
        std::string Text = "P: " + UsbPath.substr(UsbPath.find("/devices/")) + "/" + TtyName + "\nN: " + TtyName +
                           "\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" + TtyName + "\nA: dev=188:9\n";
        for (size_t I = 0; I + 1 < Properties.size(); I += 2)
            Text += "E: " + Properties[I] + "=" + Properties[I + 1] + "\n";
        GError* Error = nullptr;
        if (!umockdev_testbed_add_from_string(FTestbed, Text.c_str(), &Error)) {
            const std::string Why = Error ? Error->message : "no reason given";
            g_clear_error(&Error);
            throw std::runtime_error("umockdev could not add " + TtyName + ": " + Why);
        }
        return "/sys" + UsbPath.substr(UsbPath.find("/devices/")) + "/" + TtyName; // announced with "add"
    }
    return AddDevice("tty", TtyName, UsbPath, {}, Properties);
}

TMockAdapter TMockUsb::Plug(const std::string& UsbName, const std::string& TtyName, const TUsbIds& Ids)
{
    const std::string Usb = AddUsbDevice(UsbName, Ids);
    return {Usb, AddSerial(Usb, TtyName, Ids)};
}

void TMockUsb::Notify(const std::string& SysPath, const char* Action)
{
    umockdev_testbed_uevent(FTestbed, SysPath.c_str(), Action);
}

void TMockUsb::Remove(const std::string& SysPath)
{
    Notify(SysPath, "remove");
    umockdev_testbed_remove_device(FTestbed, SysPath.c_str());
}

void TMockUsb::Unplug(const TMockAdapter& Adapter)
{
    Remove(Adapter.Serial);
    Remove(Adapter.Usb);
}
