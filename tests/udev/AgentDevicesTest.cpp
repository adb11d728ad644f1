#include "MockUsb.h"

#include "agent/Door.h"
#include "discovery/SerialDeviceWatch.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

// A door waits for its port with backoff; a serial device of any maker that comes or goes (a
// port is often a /dev/serial/by-id/ path) makes it try at once, long before its next retry:
// each try shows as the reason it could not open the port, which the device changes.
TEST(AgentDevices, ADoorWaitingForItsPortTriesAtOnceWhenAnySerialDeviceComesOrGoes)
{
    TMockUsb Mock;
    if (!Mock.Active())
        GTEST_SKIP() << "umockdev's preload library is not loaded";
    TSerialDeviceWatch Watch;
    TDoor Door({"gate", "Gate", "/dev/ttyUSB9", {}}, {});
    QStringList Said;
    Door.OnSay = [&](int, const QString& Text) { Said << Text; };
    Watch.OnChange = [&] { Door.DevicesChanged(); };
    Door.Start();
    Pump(3500ms); // tried at 0, 1 and 3 s: the next try is at 7 s
    const auto Tried = [&](const char* Why) { return WaitUntil([&] { return Said.last().endsWith(Why); }, 2s); };
    ASSERT_TRUE(Said.last().endsWith("(Error: 2)")) << Said.join('\n').toStdString();

    const std::string Usb = Mock.AddUsbDevice("1-2", {"0403", "6001", "0600"});
    const std::string Tty = Mock.AddSerial(Usb, "ttyUSB9", {"0403", "6001", "0600"}, true, true);
    EXPECT_TRUE(Tried("(Error: 25)")) << Said.join('\n').toStdString();
    Mock.Remove(Tty);
    EXPECT_TRUE(Tried("(Error: 2)")) << Said.join('\n').toStdString();
}
