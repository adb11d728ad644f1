#include "reader/CPort.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <memory>

using namespace std::chrono_literals;

#ifndef BOTHER
#define BOTHER 0010000 // the kernel's "speed in c_ispeed/c_ospeed" mark
#endif

namespace {

// The far side of a pseudo-terminal: what a device on the line would see.
class TLineEnd
{
public:
    TLineEnd()
    {
        int Slave = -1;
        char Name[256] = {};
        if (openpty(&FMaster, &Slave, Name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty");
        // Held open so a close of the port is no hang-up of the line.
        FSlave = Slave;
        FName = Name;
        fcntl(FMaster, F_SETFL, O_NONBLOCK);
    }
    ~TLineEnd()
    {
        if (FMaster >= 0)
            close(FMaster);
        close(FSlave);
    }
    QString Name() const { return QString::fromLocal8Bit(FName.c_str()); }
    int Slave() const { return FSlave; }

    void Send(const QByteArray& Bytes) { ASSERT_EQ(write(FMaster, Bytes.constData(), size_t(Bytes.size())), Bytes.size()); }

    QByteArray Receive(int Expected, std::chrono::milliseconds Timeout = 3000ms)
    {
        QByteArray Got;
        WaitUntil([&] {
            char Buffer[4096];
            ssize_t N;
            while ((N = read(FMaster, Buffer, sizeof Buffer)) > 0)
                Got.append(Buffer, N);
            return Got.size() >= Expected;
        }, Timeout);
        return Got;
    }

    void HangUp()
    {
        close(FMaster);
        FMaster = -1;
    }

private:
    int FMaster = -1;
    int FSlave = -1;
    std::string FName;
};

struct TEventLog
{
    QStringList Events;
    QByteArray Received;
    QList<int> Counts;

    void Attach(TCustomComPort& Port, bool ReadBytes = true)
    {
        Port.OnAfterOpen = [this](QObject*) { Events << "open"; };
        Port.OnAfterClose = [this](QObject*) { Events << "close"; };
        Port.OnRxChar = [this, &Port, ReadBytes](QObject*, int Count) {
            Counts << Count;
            if (!ReadBytes)
                return;
            QByteArray Buffer(Count, '\0');
            Received.append(Buffer.constData(), Port.ReadBytes(Buffer.data(), Count));
        };
    }
};

std::string ErrorOf(const std::function<void()>& Action)
{
    try {
        Action();
    } catch (const std::exception& E) {
        return E.what();
    }
    return "";
}

// Installs a reporter for the test's lifetime that records what would be shown.
struct TReports
{
    QStringList Messages;
    TExceptionReporter Previous;
    TReports()
    {
        Previous = SetExceptionReporter([this](const std::exception& E) { Messages << E.what(); });
    }
    ~TReports() { SetExceptionReporter(Previous); }
};

} // namespace

TEST(ComPort, DefaultsAreThoseOfANewPort)
{
    TComPort Port;
    EXPECT_EQ(Port.Port(), "COM1");
    EXPECT_EQ(Port.BaudRate(), br9600);
    EXPECT_EQ(Port.CustomBaudRate(), 9600);
    EXPECT_EQ(Port.DataBits(), dbEight);
    EXPECT_EQ(Port.StopBits(), sbOneStopBit);
    EXPECT_EQ(Port.Parity().Bits(), prNone);
    EXPECT_EQ(Port.FlowControl().ControlDTR(), dtrDisable);
    EXPECT_EQ(Port.FlowControl().ControlRTS(), rtsDisable);
    EXPECT_EQ(Port.FlowControl().XonChar(), 17);
    EXPECT_EQ(Port.FlowControl().XoffChar(), 19);
    EXPECT_EQ(Port.Buffer().InputSize(), 1024);
    EXPECT_EQ(Port.Buffer().OutputSize(), 1024);
    EXPECT_EQ(Port.Timeouts().ReadInterval(), -1);
    EXPECT_EQ(Port.Timeouts().WriteTotalMultiplier(), 100);
    EXPECT_EQ(Port.Timeouts().WriteTotalConstant(), 1000);
    EXPECT_EQ(Port.Events(), TComEvents::All());
    EXPECT_EQ(Port.SyncMethod(), smThreadSync);
    EXPECT_FALSE(Port.Connected());

    Port.Buffer().SetInputSize(32769);
    Port.Buffer().SetOutputSize(3);
    EXPECT_EQ(Port.Buffer().InputSize(), 32768);
    EXPECT_EQ(Port.Buffer().OutputSize(), 2);
}

TEST(ComPort, OpeningAMissingDeviceFailsWithTheSystemNumber)
{
    TComPort Port;
    TEventLog Log;
    Log.Attach(Port);
    Port.SetPort("ttyDoesNotExist9");
    EXPECT_EQ(ErrorOf([&] { Port.OpenPort(); }), "Unable to open com port (Error: 2)");
    EXPECT_FALSE(Port.Connected());
    EXPECT_FALSE(Port.HasEventThread());
    EXPECT_TRUE(Log.Events.isEmpty());
    try {
        Port.OpenPort();
    } catch (const EComPort& E) {
        EXPECT_EQ(E.Code(), CE_OpenFailed);
        EXPECT_EQ(E.WinCode(), 2);
    }
}

TEST(ComPort, ClosedPortRefusesTransfersWithoutANumber)
{
    TComPort Port;
    char Byte = 0;
    EXPECT_EQ(ErrorOf([&] { Port.WriteBytes(&Byte, 1); }), "Port Not Open");
    EXPECT_EQ(ErrorOf([&] { Port.ReadBytes(&Byte, 1); }), "Port Not Open");
}

TEST(ComPort, OpenAndCloseAreIdempotentAndAnOpenDeviceIsExclusive)
{
    TLineEnd Line;
    TComPort Port;
    TEventLog Log;
    Log.Attach(Port);
    Port.ClosePort();
    Port.SetPort(Line.Name());
    Port.OpenPort();
    Port.OpenPort();
    EXPECT_TRUE(Port.Connected());
    EXPECT_TRUE(Port.HasEventThread());

    TComPort Second;
    Second.SetPort(Line.Name());
    EXPECT_EQ(ErrorOf([&] { Second.OpenPort(); }), "Unable to open com port (Error: 16)");
    EXPECT_FALSE(Second.Connected());

    Port.ClosePort();
    Port.ClosePort();
    EXPECT_FALSE(Port.HasEventThread());
    EXPECT_EQ(Log.Events, (QStringList{"open", "close"}));
    Second.OpenPort(); // free again once closed
    EXPECT_TRUE(Second.Connected());
}

TEST(ComPort, LineSettingsReachTheDeviceFromCookedMode)
{
    TLineEnd Line;
    termios Before{};
    ASSERT_EQ(tcgetattr(Line.Slave(), &Before), 0);
    ASSERT_TRUE(Before.c_lflag & ICANON); // the kernel's default line discipline

    TComPort Port;
    Port.SetPort(Line.Name());
    Port.SetBaudRate(br19200);
    Port.FlowControl().SetControlRTS(rtsEnable);
    Port.OpenPort();

    termios T{};
    ASSERT_EQ(tcgetattr(Line.Slave(), &T), 0);
    EXPECT_EQ(cfgetospeed(&T), speed_t(B19200));
    EXPECT_EQ(cfgetispeed(&T), speed_t(B19200));
    EXPECT_EQ(T.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_FALSE(T.c_cflag & (PARENB | CSTOPB | CRTSCTS));
    EXPECT_FALSE(T.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN));
    EXPECT_FALSE(T.c_oflag & OPOST);
    EXPECT_FALSE(T.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | INPCK | IGNBRK | BRKINT | PARMRK));

    // A change while open applies at once. (A pseudo-terminal keeps 8N1 whatever it is told, so
    // the speed stands for every line setting here.)
    Port.SetBaudRate(br57600);
    ASSERT_EQ(tcgetattr(Line.Slave(), &T), 0);
    EXPECT_EQ(cfgetospeed(&T), speed_t(B57600));

    // Writing the value a setting already has makes no call: a change made behind the port's
    // back stays.
    termios Behind = T;
    cfsetospeed(&Behind, B2400);
    cfsetispeed(&Behind, B2400);
    ASSERT_EQ(tcsetattr(Line.Slave(), TCSANOW, &Behind), 0);
    Port.SetBaudRate(br57600);
    Port.Parity().SetBits(prNone);
    Port.FlowControl().SetControlRTS(rtsEnable);
    ASSERT_EQ(tcgetattr(Line.Slave(), &T), 0);
    EXPECT_EQ(cfgetospeed(&T), speed_t(B2400));
    Port.SetBaudRate(br38400);
    ASSERT_EQ(tcgetattr(Line.Slave(), &T), 0);
    EXPECT_EQ(cfgetospeed(&T), speed_t(B38400));
}

TEST(ComPort, SpeedsWithoutATermiosConstantAreSetExactly)
{
    TLineEnd Line;
    TComPort Port;
    Port.SetPort(Line.Name());
    Port.SetBaudRate(brCustom);
    Port.SetCustomBaudRate(250000);
    Port.OpenPort();
    termios T{};
    ASSERT_EQ(tcgetattr(Line.Slave(), &T), 0);
    EXPECT_EQ(T.c_cflag & CBAUD, tcflag_t(BOTHER));
}

TEST(ComPort, SyncMethodCannotChangeWhileConnected)
{
    TLineEnd Line;
    TComPort Port;
    Port.SetSyncMethod(smWindowSync);
    Port.SetPort(Line.Name());
    Port.OpenPort();
    Port.SetSyncMethod(smWindowSync); // same value: nothing happens
    EXPECT_EQ(ErrorOf([&] { Port.SetSyncMethod(smNone); }), "Cannot set property while connected");
    EXPECT_EQ(Port.SyncMethod(), smWindowSync);
}

TEST(ComPort, EveryByteValueCrossesUnchangedBothWays)
{
    TLineEnd Line;
    TComPort Port;
    TEventLog Log;
    Log.Attach(Port);
    Port.SetPort(Line.Name());
    Port.OpenPort();

    QByteArray All;
    for (int I = 0; I < 256; ++I)
        All.append(char(I));
    All += QByteArray("\r\n\n\r\x03\x04\x11\x13\x1a\x00\x7f", 11);

    EXPECT_EQ(Port.WriteBytes(All.constData(), int(All.size())), All.size());
    EXPECT_EQ(Line.Receive(int(All.size())), All);

    Line.Send(All);
    ASSERT_TRUE(WaitUntil([&] { return Log.Received.size() >= All.size(); }));
    EXPECT_EQ(Log.Received, All);
    EXPECT_FALSE(Log.Counts.contains(0));
}

TEST(ComPort, RenamingAnOpenPortClosesAndReopensOnTheNewDevice)
{
    TLineEnd First, Second;
    TComPort Port;
    TEventLog Log;
    Log.Attach(Port);
    Port.SetPort(First.Name());
    Port.OpenPort();
    Port.SetPort(First.Name());
    EXPECT_EQ(Log.Events, QStringList{"open"});
    Port.SetPort(Second.Name());
    EXPECT_EQ(Log.Events, (QStringList{"open", "close", "open"}));
    const char Ping[] = "ping";
    Port.WriteBytes(Ping, 4);
    EXPECT_EQ(Second.Receive(4), QByteArray("ping"));
}

TEST(ComPort, NoticesAreHandledNestedInsideAModalLoop)
{
    TLineEnd Line;
    TComPort Port;
    Port.SetPort(Line.Name());
    QByteArray Received;
    int Depth = 0, Deepest = 0;
    Port.OnRxChar = [&](QObject*, int Count) {
        QByteArray Buffer(Count, '\0');
        Received.append(Buffer.constData(), Port.ReadBytes(Buffer.data(), Count));
        ++Depth;
        Deepest = std::max(Deepest, Depth);
        if (Depth == 1) {
            // A modal window: its loop runs until the second chunk has been handled inside it.
            QEventLoop Modal;
            QTimer::singleShot(0, [&] { Line.Send("second"); });
            QTimer Check;
            QObject::connect(&Check, &QTimer::timeout, [&] {
                if (Received.endsWith("second"))
                    Modal.quit();
            });
            Check.start(5);
            QTimer::singleShot(5000, &Modal, &QEventLoop::quit);
            Modal.exec();
        }
        --Depth;
    };
    Port.OpenPort();
    Line.Send("first");
    ASSERT_TRUE(WaitUntil([&] { return Received == "firstsecond" && Depth == 0; }));
    EXPECT_EQ(Deepest, 2);
}

TEST(ComPort, AHandlerThatThrowsIsReportedAndReceivingGoesOn)
{
    TReports Reports;
    TLineEnd Line;
    TComPort Port;
    Port.SetPort(Line.Name());
    QByteArray Received;
    Port.OnRxChar = [&](QObject*, int Count) {
        QByteArray Buffer(Count, '\0');
        Received.append(Buffer.constData(), Port.ReadBytes(Buffer.data(), Count));
        if (Received.contains('!'))
            throw Exception("Unknown command");
    };
    Port.OpenPort();
    Line.Send("bad!");
    ASSERT_TRUE(WaitUntil([&] { return Reports.Messages.size() == 1; }));
    EXPECT_EQ(Reports.Messages, QStringList{"Unknown command"});
    EXPECT_TRUE(Port.Connected());
    Received.clear();
    Line.Send("good");
    ASSERT_TRUE(WaitUntil([&] { return Received == "good"; }));
}

TEST(ComPort, BytesUnreadAtCloseAreGone)
{
    TLineEnd Line;
    TComPort Port;
    TEventLog Log;
    Log.Attach(Port, false);
    Port.SetPort(Line.Name());
    Port.OpenPort();
    Line.Send("stale");
    ASSERT_TRUE(WaitUntil([&] { return !Log.Counts.isEmpty(); }));
    Port.ClosePort();

    TEventLog Fresh;
    Fresh.Attach(Port);
    Port.OpenPort();
    Line.Send("new");
    ASSERT_TRUE(WaitUntil([&] { return Fresh.Received.size() >= 3; }));
    Pump(50ms);
    EXPECT_EQ(Fresh.Received, QByteArray("new"));
}

TEST(ComPort, AWriteThatCannotGoOutEndsAtItsTimeoutWithoutAnError)
{
    TLineEnd Line; // nobody reads the far side: the line fills up
    TComPort Port;
    Port.SetPort(Line.Name());
    Port.Timeouts().SetWriteTotalConstant(200);
    Port.Timeouts().SetWriteTotalMultiplier(0);
    Port.OpenPort();
    QByteArray Lots(1 << 20, 'x');
    const int Written = Port.WriteBytes(Lots.constData(), int(Lots.size()));
    EXPECT_GT(Written, 0);
    EXPECT_LT(Written, Lots.size());
    EXPECT_TRUE(Port.Connected());
}

TEST(ComPort, AHangUpClosesThePortOnceAndEndsTheThread)
{
    TReports Reports;
    auto Line = std::make_unique<TLineEnd>();
    TComPort Port;
    TEventLog Log;
    Log.Attach(Port);
    Port.SetPort(Line->Name());
    Port.OpenPort();
    Line->HangUp();
    ASSERT_TRUE(WaitUntil([&] { return !Port.Connected(); }));
    Pump(100ms);
    EXPECT_EQ(Log.Events, (QStringList{"open", "close"}));
    EXPECT_FALSE(Port.HasEventThread());
    EXPECT_TRUE(Reports.Messages.isEmpty());
}

TEST(ComPort, TheEventThreadUsesNoProcessorWhileNothingHappens)
{
    TLineEnd Line;
    TComPort Port;
    TEventLog Log;
    // The handler leaves the bytes unread: the thread must not keep announcing them in a loop.
    Log.Attach(Port, false);
    Port.SetPort(Line.Name());
    Port.OpenPort();
    Line.Send("unread");
    ASSERT_TRUE(WaitUntil([&] { return !Log.Counts.isEmpty(); }));
    const auto Start = Port.EventThreadCpuTime();
    Pump(1000ms);
    const auto Used = Port.EventThreadCpuTime() - Start;
    EXPECT_LT(Used, 50ms) << "the event thread spins";
    EXPECT_LE(Log.Counts.size(), 2);
}
