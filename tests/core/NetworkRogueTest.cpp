// Network readers behind servers that lie, refuse, stall or hang up, played on loopback.

#include "reader/CPort.h"
#include "reader/CPortSocketRace.h"
#include "reader/Dorvik.h"
#include "support/BlackHole.h"
#include "support/ComPortPeer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTimer>

using namespace std::chrono_literals;
using namespace std::string_literals;

namespace {

std::string OpenError(TComPort& Port, const QString& Url)
{
    Port.SetPort(Url);
    try {
        Port.OpenPort();
    } catch (const EComPort& E) {
        return E.what();
    }
    return "opened";
}

std::string Where(int Port) { return "Cannot reach reader at 127.0.0.1:" + std::to_string(Port) + ": "; }

} // namespace

TEST(NetworkRogueTest, AServerThatRefusesOrSetsTheLineOtherwiseIsNamedInTheMessage)
{
    const struct
    {
        std::string Greeting;
        std::map<uint8_t, std::string> Values;
        bool Silent;
        std::string Message;
    } Cases[] = {
        {"\xFF\xFE\x00"s, {}, false, "the server refused binary mode"},
        {"\xFF\xFC\x2C"s, {}, false, "the server refused the com-port option"},
        {ComPortAgreed, {{1, "\0\0\x25\x80"s}}, false, "the server set the speed to 9600 bit/s, not 19200"},
        {ComPortAgreed, {{2, "\x07"}}, false, "the server set the data size to 7 bits, not 8"},
        {ComPortAgreed, {{3, "\x03"}}, false, "the server set the parity to even, not none"},
        {ComPortAgreed, {{4, "\x02"}}, false, "the server set the stop size to 2 bits, not 1"},
        {ComPortAgreed + "\xFF\xFA\x2C" + std::string(100, 'x'), {}, false, "the server sent an over-long Telnet subnegotiation"},
        {ComPortAgreed, {}, true, "no answer to the line settings within 5 s"},
    };
    for (const auto& C : Cases) {
        RogueServer Server(C.Silent ? RogueServer::Answer() : ComPortPeer(C.Values), C.Greeting);
        TComPort Port;
        Port.SetBaudRate(br19200);
        EXPECT_EQ(OpenError(Port, Server.Url("rfc2217")), Where(Server.Port()) + C.Message);
        EXPECT_FALSE(Port.Connected());
    }
    RogueServer Honest(ComPortPeer(), ComPortAgreed);
    TComPort Port;
    EXPECT_EQ(OpenError(Port, Honest.Url("rfc2217")), "opened");
}

// A reader's last answer often comes with the server's close: it must not be lost to it.
TEST(NetworkRogueTest, AFrameSentWithTheHangUpArrivesBeforeTheDisconnect)
{
    for (const QString Scheme : {"tcp", "rfc2217"})
        for (int Round = 0; Round < 5; ++Round) {
            const bool Telnet = Scheme == "rfc2217";
            RogueServer Server(ComPortPeer(), Telnet ? ComPortAgreed : "");
            QStringList Log;
            TDorvik Reader;
            Reader.OnReceive = [&](QObject*, TPacket& P) { Log << QString("receive %1").arg(P.Code()); };
            Reader.OnDisconnect = [&](QObject*) { Log << "disconnect"; };
            Reader.SetPort(Server.Url(Scheme));
            Reader.Connect();
            Server.SendAndClose(Telnet ? "\x42\x06\x0A\xFF\xFF\x01\x05"s : "\x42\x06\x0A\xFF\x01\x05"s);
            ASSERT_TRUE(WaitUntil([&] { return Log.contains("disconnect"); }));
            EXPECT_EQ(Log, QStringList({"receive 10", "disconnect"})) << Scheme.toStdString() << Round;
        }
}

TEST(NetworkRogueTest, ABlackHoledFirstAddressLeavesTheNextItsOwnTry)
{
    BlackHole Hole(AF_INET6);
    RogueServer Server;
    std::vector<NetDevice::TEndpoint> Endpoints, Good;
    ASSERT_EQ(NetDevice::Resolve("::1", Hole.Port(), Endpoints), "");
    ASSERT_EQ(NetDevice::Resolve("127.0.0.1", Server.Port(), Good), "");
    Endpoints.push_back(Good.front());
    int Socket = -1;
    ASSERT_EQ(NetDevice::Race(Endpoints, NetDevice::Clock::now() + 5s, -1, Socket), 0);
    ::close(Socket);
    EXPECT_TRUE(WaitUntil([&] { return Server.Accepted() == 1; }));
}

// The window is not held while a reader is reached, and what runs meanwhile may give the port up.
TEST(NetworkRogueTest, EventsGoOnWhileAReaderIsReachedAndClosingOrDeletingThePortGivesItUp)
{
    BlackHole Hole;
    for (const bool Delete : {false, true}) {
        auto* Port = new TComPort;
        bool SeenOpen = true;
        QTimer Meanwhile;
        Meanwhile.setSingleShot(true);
        QObject::connect(&Meanwhile, &QTimer::timeout, [&] {
            SeenOpen = Port->Connected();
            if (Delete)
                delete std::exchange(Port, nullptr);
            else
                Port->ClosePort();
        });
        Meanwhile.start(20ms);
        EXPECT_EQ(OpenError(*Port, QString("tcp://127.0.0.1:%1").arg(Hole.Port())),
                  Where(Hole.Port()) + "the port was closed while it was being connected");
        EXPECT_FALSE(SeenOpen);
        delete Port;
    }
}
