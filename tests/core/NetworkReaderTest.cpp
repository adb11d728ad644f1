#include "reader/CPort.h"
#include "reader/Dorvik.h"
#include "sim/SimReader.h"
#include "support/Ser2netServer.h"
#include "support/SimCards.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// The reader component on a simulated reader behind the real ser2net; the parameter picks the
// accepter: false raw tcp, true telnet(rfc2217).
class NetworkReaderTest : public ::testing::TestWithParam<bool>
{
protected:
    QStringList Log; // outlives the reader, whose destructor still reports the disconnect
    sim::SimReader Sim;
    std::unique_ptr<Ser2netServer> Server;
    TDorvik Reader;

    void SetUp() override
    {
        if (Ser2netServer::Program().isEmpty())
            GTEST_SKIP() << "ser2net not found: install the ser2net package (listed in scripts/deps)";
        Server = std::make_unique<Ser2netServer>(QString::fromStdString(Sim.PortName()), GetParam());
        ASSERT_TRUE(Server->Listening()) << Server->Output().toStdString();
        Reader.OnDisconnect = [this](QObject*) { Log << "disconnect"; };
        Reader.OnReceive = [this](QObject*, TPacket& P) { Log << QString("receive %1").arg(P.Code()); };
        Reader.OnTransferEnd = [this](QObject*) { Log << QString("end count=%1").arg(Reader.Tags().Count()); };
        Reader.OnEndUpdate = [this](QObject*) { Log << "endupdate"; };
        Reader.OnCardSwipe = [this](QObject*, TRfidTag& T) { Log << "swipe " + T.CardNumber(); };
        Reader.SetPort(Server->Url());
        Reader.Connect();
    }

    bool LogHas(const QString& Line, std::chrono::milliseconds Timeout = 10s)
    {
        return WaitUntil([&] { return Log.contains(Line); }, Timeout);
    }
};

// Cards full of 0xFF: Telnet's IAC, which the port must double and undouble.
std::vector<sim::CardBytes> Awkward(int Count)
{
    std::vector<sim::CardBytes> Result = Cards(Count, 0xFFFF0000u, 0x101);
    for (auto& C : Result)
        C[0] = 0xFF;
    return Result;
}

} // namespace

TEST_P(NetworkReaderTest, ReadsWritesSwipesAndSetsTheDoorThroughTheServer)
{
    Sim.SetCards(Cards(250));
    Sim.SetMaster(7);
    Reader.ReadDatabase();
    ASSERT_TRUE(LogHas("end count=250"));
    EXPECT_EQ(ListOf(Reader.Tags()), Cards(250));
    EXPECT_EQ(Reader.Master(), 7u);

    Reader.Tags().Clear();
    for (const auto& C : Awkward(250))
        Reader.Tags().Add().Bytes = C;
    Reader.SetMaster(255);
    Reader.WriteDatabase();
    ASSERT_TRUE(LogHas("endupdate"));
    Log.clear();
    Reader.ReadDatabase(); // verify: what the reader holds now comes back whole
    ASSERT_TRUE(LogHas("end count=250"));
    EXPECT_EQ(ListOf(Reader.Tags()), Awkward(250));
    EXPECT_EQ(Sim.Master(), 255);

    Sim.Swipe(Card(0xFFFFFFFFu, 0xFF));
    ASSERT_TRUE(LogHas("swipe 4294967295 65535,65535"));

    Reader.WriteDoorConfig(dmMomentary, 255);
    ASSERT_TRUE(WaitUntil([&] { return Sim.DoorMode() == 1 && Sim.DoorDelay() == 255; }));
    Sim.SetDoor(2, 30);
    Reader.ReadDoorConfig();
    ASSERT_TRUE(WaitUntil([&] { return Reader.DoorMode() == dmUnlockTimed && Reader.DoorDelay() == 30; }));
}

TEST_P(NetworkReaderTest, AServerKilledMidReadIsAHangUpAndTheListComesBack)
{
    Reader.Tags().Add().Bytes = Card(1);
    Reader.Tags().Items(0).Name = "One";
    Reader.SetMaster(0);
    Sim.SetCards(Cards(250));
    Sim.SetReplyDelay(10ms); // the read lasts seconds, slow builds included
    Reader.ReadDatabase();
    ASSERT_TRUE(WaitUntil([&] { return Log.size() > 20; }));
    ASSERT_TRUE(Reader.ReadActive());
    Server->Kill();
    ASSERT_TRUE(LogHas("disconnect"));
    EXPECT_FALSE(Reader.Connected());
    Reader.CancelTransfer(); // as the window does when the connection is lost
    ASSERT_EQ(Reader.Tags().Count(), 1);
    EXPECT_EQ(Reader.Tags().Items(0).Name, "One");
    EXPECT_EQ(Reader.Master(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Accepters, NetworkReaderTest, ::testing::Bool(),
                         [](const auto& Info) { return Info.param ? "Rfc2217" : "Tcp"; });

TEST(NetworkPortTest, Rfc2217SetsTheReadersLineOnTheServersDevice)
{
    if (Ser2netServer::Program().isEmpty())
        GTEST_SKIP() << "ser2net not found: install the ser2net package (listed in scripts/deps)";
    sim::SimReader Sim;
    Ser2netServer Server(QString::fromStdString(Sim.PortName()), true, 9600);
    ASSERT_TRUE(Server.Listening()) << Server.Output().toStdString();
    TComPort Port;
    Port.SetBaudRate(br19200);
    Port.SetPort(Server.Url());
    Port.OpenPort(); // returns once the server answered the line requests
    const int Device = ::open(Sim.PortName().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(Device, 0);
    termios T{};
    ASSERT_EQ(tcgetattr(Device, &T), 0);
    ::close(Device);
    EXPECT_EQ(cfgetospeed(&T), speed_t(B19200));
    EXPECT_EQ(T.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
}

TEST(NetworkPortTest, UnreachableReadersAreNamedInTheMessage)
{
    const int Closed = Ser2netServer::FreePort();
    const struct
    {
        QString Url;
        std::string Message;
    } Cases[] = {
        {QString("tcp://127.0.0.1:%1").arg(Closed), "Cannot reach reader at 127.0.0.1:" + std::to_string(Closed) + ": connection refused"},
        {QString("rfc2217://127.0.0.1:%1").arg(Closed), "Cannot reach reader at 127.0.0.1:" + std::to_string(Closed) + ": connection refused"},
        {"rfc2217://no-such-host.invalid:2000", "Cannot reach reader at no-such-host.invalid:2000: "},
        {"tcp://127.0.0.1", "Not a reader address: tcp://127.0.0.1 (give tcp://HOST:PORT or rfc2217://HOST:PORT)"},
        {"tcp://host:69537", "Invalid port number 69537 in tcp://host:69537"},
        {"rfc2217://host:0", "Invalid port number 0 in rfc2217://host:0"},
    };
    for (const auto& C : Cases) {
        TComPort Port;
        Port.SetPort(C.Url);
        try {
            Port.OpenPort();
            ADD_FAILURE() << C.Url.toStdString() << " opened";
        } catch (const EComPort& E) {
            EXPECT_EQ(std::string(E.what()).substr(0, C.Message.size()), C.Message) << E.what();
            EXPECT_EQ(E.Code(), CE_OpenFailed);
        }
        EXPECT_FALSE(Port.Connected());
    }
}

#ifdef DORVIK_PROGRAM
// The window asks a reader it connected to for its door settings: the first frame it receives.
TEST(StartupPortTest, TheProgramConnectsAtStartToTheGivenPortOrAddress)
{
    const bool HaveServer = !Ser2netServer::Program().isEmpty();
    for (const bool Network : {false, true}) {
        if (Network && !HaveServer)
            GTEST_SKIP() << "ser2net not found: install the ser2net package (listed in scripts/deps)";
        sim::SimReader Sim;
        std::unique_ptr<Ser2netServer> Server;
        QString Port = QString::fromStdString(Sim.PortName());
        if (Network) {
            Server = std::make_unique<Ser2netServer>(Port, true);
            Port = Server->Url();
        }
        QProcess Program;
        QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
        Env.insert("QT_QPA_PLATFORM", "offscreen");
        Program.setProcessEnvironment(Env);
        Program.start(QStringLiteral(DORVIK_PROGRAM), {"--port", Port});
        EXPECT_TRUE(Sim.WaitForFrames(1, 15s)) << Port.toStdString();
        Program.kill();
        Program.waitForFinished();
        ASSERT_FALSE(Sim.ReceivedFrames().empty());
        EXPECT_EQ(Sim.ReceivedFrames().front(), (sim::Frame{0x42, 0x04, 0x0B, 0xFF}));
    }
}
#endif
