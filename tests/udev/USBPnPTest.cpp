#include "MockUsb.h"

#include "common/Errors.h"
#include "discovery/USBPnP.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QObject>

namespace {

const QString Reader = QStringLiteral("VID_10C4&PID_EA60");

class USBPnPTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Mock = std::make_unique<TMockUsb>();
        if (!Mock->Active())
            GTEST_SKIP() << "umockdev's preload library is not loaded (LD_PRELOAD=libumockdev-preload.so.0), "
                            "so there is no fake sysfs to discover";
    }

    // A discovery component as an owner sets it up; Changes counts its OnChange.
    TUSBPnP* Discovery(const QString& HardwareId = Reader)
    {
        auto* PnP = new TUSBPnP(&Owner);
        PnP->SetHardwareId(HardwareId);
        PnP->OnChange = [this, PnP](QObject* Sender) {
            EXPECT_EQ(Sender, PnP);
            ++Changes;
        };
        return PnP;
    }

    // Waits for the next change and checks that the notices that caused it raised one only.
    void ExpectOneMoreChange(int Before)
    {
        ASSERT_TRUE(WaitUntil([&] { return Changes > Before; }));
        EXPECT_EQ(Changes, Before + 1);
    }

    std::unique_ptr<TMockUsb> Mock;
    QObject Owner; // destroys the components before the fake system goes
    int Changes = 0;
};

class ScopedEnv
{
public:
    ScopedEnv(const char* Name, const char* Value) : FName(Name) { setenv(Name, Value, 1); }
    ~ScopedEnv() { unsetenv(FName); }

private:
    const char* FName;
};

TEST_F(USBPnPTest, ListsMatchingSerialDevicesInEnumerationOrder)
{
    // Listed by sysfs path, not by name: ttyUSB1 sits on the first USB device.
    Mock->Plug("1-1", "ttyUSB1");
    Mock->Plug("1-2", "ttyUSB0", {"10C4", "EA60", "0100"});
    Mock->Plug("1-3", "ttyACM0", {"10c4", "ea60", "0200"});
    TUSBPnP* PnP = Discovery();
    EXPECT_TRUE(PnP->Ports().isEmpty());

    PnP->Refresh();

    EXPECT_EQ(PnP->Ports(), QStringList({"ttyUSB1", "ttyUSB0", "ttyACM0"}));
    EXPECT_EQ(Changes, 1);
}

TEST_F(USBPnPTest, MatchesHardwareIdWithoutRegardToCase)
{
    Mock->Plug("1-1", "ttyUSB0");
    TUSBPnP* PnP = Discovery(QStringLiteral("vid_10c4&pid_ea60"));
    PnP->Refresh();
    EXPECT_EQ(PnP->Ports(), QStringList({"ttyUSB0"}));

    PnP->SetHardwareId(QStringLiteral("usb\\vid_10c4&pid_ea60&rev_0100"));
    PnP->Refresh();
    EXPECT_EQ(PnP->Ports(), QStringList({"ttyUSB0"}));
}

TEST_F(USBPnPTest, LeavesOutEverythingButSerialDevicesOfMatchingUsbDevices)
{
    Mock->Plug("1-1", "ttyUSB0", {"10c4", "ea61", "0100"});  // another product
    Mock->Plug("1-2", "ttyUSB1", {"0403", "6001", "0600"});  // another maker
    Mock->AddUsbDevice("1-3", {});                             // the reader's ids, no serial device
    Mock->AddSerial("", "ttyS0", {}, false);                   // a serial port not on USB
    Mock->Plug("1-4", "ttyUSB2");
    TUSBPnP* PnP = Discovery();

    PnP->Refresh();

    EXPECT_EQ(PnP->Ports(), QStringList({"ttyUSB2"}));
}

TEST_F(USBPnPTest, RaisesOnChangeWhenNothingMatches)
{
    Mock->Plug("1-1", "ttyUSB0");
    TUSBPnP* PnP = Discovery(QString());

    PnP->Refresh();
    PnP->Refresh();

    EXPECT_TRUE(PnP->Ports().isEmpty());
    EXPECT_EQ(Changes, 2);
}

TEST_F(USBPnPTest, AppendsExtraPortsWhateverTheHardwareId)
{
    // A network address holds ':' itself and stays whole.
    ScopedEnv Extra("DORVIK_EXTRA_PORTS", "/dev/pts/4::rfc2217://door-1:3001:ttyV0:tcp://[fe80::1]:7");
    Mock->Plug("1-1", "ttyUSB0");
    TUSBPnP* PnP = Discovery();

    PnP->Refresh();
    EXPECT_EQ(PnP->Ports(), QStringList({"ttyUSB0", "/dev/pts/4", "rfc2217://door-1:3001", "ttyV0", "tcp://[fe80::1]:7"}));

    PnP->SetHardwareId(QString());
    PnP->Refresh();
    EXPECT_EQ(PnP->Ports(), QStringList({"/dev/pts/4", "rfc2217://door-1:3001", "ttyV0", "tcp://[fe80::1]:7"}));
}

TEST_F(USBPnPTest, UnreadableIdsEndRefreshWithoutOnChange)
{
    Mock->Plug("1-1", "ttyUSB0");
    const std::string Broken = Mock->AddUsbDevice("1-2", {"10c4", "ea60", ""});
    Mock->AddSerial(Broken, "ttyUSB1", {});
    Mock->Plug("1-3", "ttyUSB2");
    TUSBPnP* PnP = Discovery();

    try {
        PnP->Refresh();
        FAIL() << "Refresh read a device without bcdDevice";
    } catch (const Exception& E) {
        EXPECT_STREQ(E.what(), "No such file or directory");
    }
    EXPECT_EQ(PnP->Ports(), QStringList({"ttyUSB0"}));
    EXPECT_EQ(Changes, 0);
}

TEST_F(USBPnPTest, PluggingAndRemovingAReaderRefreshesOnce)
{
    TUSBPnP* PnP = Discovery();
    PnP->Refresh();
    ASSERT_EQ(Changes, 1);

    const TMockAdapter Adapter = Mock->Plug("1-1", "ttyUSB0");
    ExpectOneMoreChange(1);
    EXPECT_EQ(PnP->Ports(), QStringList({"ttyUSB0"}));

    Mock->Unplug(Adapter);
    ExpectOneMoreChange(2);
    EXPECT_TRUE(PnP->Ports().isEmpty());
}

TEST_F(USBPnPTest, OnlyReadersComingAndGoingRaiseOnChange)
{
    const TMockAdapter Present = Mock->Plug("1-1", "ttyUSB0");
    TUSBPnP* PnP = Discovery();
    Mock->Notify(Present.Serial, "change");
    Mock->Unplug(Mock->Plug("1-2", "ttyUSB1", {"0403", "6001", "0600"}));
    Mock->AddUsbDevice("1-3", {});

    // Notices arrive in order: once the reader's is handled, the others have been too.
    Mock->Plug("1-4", "ttyUSB2");
    ExpectOneMoreChange(0);
    EXPECT_EQ(PnP->Ports(), QStringList({"ttyUSB0", "ttyUSB2"}));
}

TEST_F(USBPnPTest, RecognisesAPluggedReaderByItsUsbDevice)
{
    // Without udev's rules the notice carries no ids; the USB parent still has them.
    TUSBPnP* PnP = Discovery();
    Mock->AddSerial(Mock->AddUsbDevice("1-1", {}), "ttyUSB0", {}, false);
    ExpectOneMoreChange(0);
    EXPECT_EQ(PnP->Ports(), QStringList({"ttyUSB0"}));
}

TEST_F(USBPnPTest, ReportsAFailedRefreshInsideANotice)
{
    std::vector<std::string> Reported;
    const TExceptionReporter Previous =
        SetExceptionReporter([&](const std::exception& E) { Reported.emplace_back(E.what()); });
    Mock->AddSerial(Mock->AddUsbDevice("1-1", {"10c4", "ea60", ""}), "ttyUSB0", {});
    TUSBPnP* PnP = Discovery();

    Mock->Plug("1-2", "ttyUSB1");
    const bool Seen = WaitUntil([&] { return !Reported.empty(); });
    SetExceptionReporter(Previous);

    ASSERT_TRUE(Seen);
    EXPECT_EQ(Reported, std::vector<std::string>({"No such file or directory"}));
    EXPECT_EQ(Changes, 0);
    EXPECT_TRUE(PnP->Ports().isEmpty());
}

} // namespace
