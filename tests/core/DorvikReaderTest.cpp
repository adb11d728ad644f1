#include "reader/CPort.h"
#include "reader/Dorvik.h"
#include "sim/SimReader.h"
#include "support/SimCards.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QRegularExpression>

using namespace std::chrono_literals;

namespace {

void Add(TRfidTags& Tags, const sim::CardBytes& Bytes, const char* Name = "")
{
    TRfidTag& T = Tags.Add();
    T.Bytes = Bytes;
    T.Name = Name;
}

QByteArray Bytes(const sim::Frame& F) { return QByteArray(reinterpret_cast<const char*>(F.data()), qsizetype(F.size())); }
std::vector<uint8_t> Raw(const char* HexText)
{
    const QByteArray B = Hex(HexText);
    return std::vector<uint8_t>(B.begin(), B.end());
}

// A reader component connected to a simulated reader, with every event written to a log.
class DorvikTest : public ::testing::Test
{
protected:
    // The log outlives the reader: its destructor still reports the disconnect.
    QStringList Log;
    QStringList Reports;
    TExceptionReporter Previous;
    sim::SimReader Sim;
    TDorvik Reader;

    void SetUp() override
    {
        Previous = SetExceptionReporter([this](const std::exception& E) { Reports << E.what(); });
        Reader.OnConnect = [this](QObject* S) { Note(S, "connect"); };
        Reader.OnDisconnect = [this](QObject* S) { Note(S, "disconnect"); };
        Reader.OnReceive = [this](QObject* S, TPacket& P) { Note(S, QString("receive %1").arg(P.Code())); };
        Reader.OnTransferBegin = [this](QObject* S) { Note(S, QString("begin master=%1").arg(Reader.Master())); };
        Reader.OnTransferEnd = [this](QObject* S) { Note(S, QString("end count=%1").arg(Reader.Tags().Count())); };
        Reader.OnCardSwipe = [this](QObject* S, TRfidTag& T) { Note(S, "swipe " + T.CardNumber()); };
        Reader.OnBeginUpdate = [this](QObject* S) { Note(S, QString("beginupdate busy=%1").arg(Reader.Busy() ? "true" : "false")); };
        Reader.OnUpdateProgress = [this](QObject* S) { Note(S, "progress"); };
        Reader.OnEndUpdate = [this](QObject* S) { Note(S, QString("endupdate busy=%1").arg(Reader.Busy() ? "true" : "false")); };
        Reader.OnDoorConfig = [this](QObject* S) {
            Note(S, QString("door mode=%1 delay=%2").arg(int(Reader.DoorMode())).arg(Reader.DoorDelay()));
        };
        Reader.SetPort(QString::fromStdString(Sim.PortName()));
        Reader.Connect();
        Log.clear();
    }
    void TearDown() override { SetExceptionReporter(Previous); }

    void Note(QObject* Sender, const QString& What)
    {
        EXPECT_EQ(Sender, &Reader) << What.toStdString();
        Log << What;
    }

    QStringList Received() const { return Log.filter(QRegularExpression("^receive ")); }
    QStringList Without(const QString& Prefix) const
    {
        QStringList Result;
        for (const QString& L : Log)
            if (!L.startsWith(Prefix))
                Result << L;
        return Result;
    }

    bool LogHas(const QString& Line, std::chrono::milliseconds Timeout = 5000ms)
    {
        return WaitUntil([&] { return Log.contains(Line); }, Timeout);
    }

    // Frames the simulated reader received, as hex text.
    QStringList Wire() const
    {
        QStringList Result;
        for (const sim::Frame& F : Sim.ReceivedFrames())
            Result << QString::fromLatin1(Bytes(F).toHex(' ').toUpper());
        return Result;
    }
};

} // namespace

TEST_F(DorvikTest, StartsWithTheDocumentedDefaultsAndPortSettings)
{
    TDorvik Fresh;
    EXPECT_EQ(Fresh.Master(), 0u);
    EXPECT_FALSE(Fresh.Busy());
    EXPECT_EQ(Fresh.DoorMode(), dmLockUnlock);
    EXPECT_EQ(Fresh.DoorDelay(), 5);
    EXPECT_EQ(Fresh.Tags().Limit, 250);
    EXPECT_FALSE(Fresh.Connected());
    TComPort& Port = Fresh.ComPort();
    EXPECT_EQ(Port.BaudRate(), br19200);
    EXPECT_EQ(Port.DataBits(), dbEight);
    EXPECT_EQ(Port.StopBits(), sbOneStopBit);
    EXPECT_EQ(Port.Parity().Bits(), prNone);
    EXPECT_EQ(Port.Buffer().InputSize(), 32768);
    EXPECT_EQ(Port.FlowControl().ControlDTR(), dtrDisable);
    EXPECT_EQ(Port.FlowControl().ControlRTS(), rtsEnable);
    EXPECT_FALSE(Port.FlowControl().OutCTSFlow() || Port.FlowControl().OutDSRFlow() ||
                 Port.FlowControl().XonXoffIn() || Port.FlowControl().XonXoffOut());
    EXPECT_EQ(Port.SyncMethod(), smWindowSync);
}

TEST_F(DorvikTest, ConnectAndDisconnectAreIdempotentAndAFailedConnectFiresNothing)
{
    Reader.Connect();
    EXPECT_TRUE(Log.isEmpty());
    Reader.Disconnect();
    Reader.Disconnect();
    EXPECT_EQ(Log, QStringList{"disconnect"});
    EXPECT_FALSE(Reader.Connected());
    Reader.Connect();
    EXPECT_EQ(Log, (QStringList{"disconnect", "connect"}));

    TDorvik Other;
    QStringList OtherLog;
    Other.OnConnect = [&](QObject*) { OtherLog << "connect"; };
    Other.SetPort("/dev/no-such-reader");
    EXPECT_THROW(Other.Connect(), EComPort);
    EXPECT_FALSE(Other.Connected());
    EXPECT_TRUE(OtherLog.isEmpty());
}

TEST_F(DorvikTest, ReadsTheReadersDatabaseInItsOrder)
{
    for (int Size : {0, 2, 250}) {
        Sim.SetCards(Cards(Size));
        Sim.SetMaster(uint8_t(Size / 2));
        Reader.Tags().Clear();
        Log.clear();
        Reader.ReadDatabase();
        ASSERT_TRUE(LogHas(QString("end count=%1").arg(Size))) << Size;
        EXPECT_EQ(ListOf(Reader.Tags()), Cards(Size));
        EXPECT_EQ(Reader.Master(), uint32_t(Size / 2));
        for (int I = 0; I < Reader.Tags().Count(); ++I)
            EXPECT_TRUE(Reader.Tags().Items(I).Name.isEmpty());
        EXPECT_EQ(Without("receive"), (QStringList{QString("begin master=%1").arg(Size / 2), QString("end count=%1").arg(Size)}));
        EXPECT_EQ(Received().size(), Size + 2);
    }
    EXPECT_EQ(Wire().last(), "42 04 02 FF");
}

TEST_F(DorvikTest, AReadReplacesTheListAndCarriesNamesOverByIdentity)
{
    Add(Reader.Tags(), Card(1), "Old only");
    Add(Reader.Tags(), Card(2, 9), "Two");
    Add(Reader.Tags(), Card(3), "Three");
    Reader.SetMaster(0);
    Sim.SetCards({Card(3), Card(4), Card(2)});
    Sim.SetMaster(2);
    Reader.ReadDatabase();
    ASSERT_TRUE(LogHas("end count=3"));
    EXPECT_EQ(ListOf(Reader.Tags()), (std::vector<sim::CardBytes>{Card(3), Card(4), Card(2)}));
    EXPECT_EQ(Reader.Tags().Items(0).Name, "Three");
    EXPECT_EQ(Reader.Tags().Items(1).Name, "");
    EXPECT_EQ(Reader.Tags().Items(2).Name, "Two");
    EXPECT_EQ(Reader.Tags().Items(2).Bytes[0], 0); // the reader's byte 0 now
    EXPECT_EQ(Reader.Master(), 2u);                // points at the reader's master card
    EXPECT_EQ(Log.filter("begin").first(), "begin master=2");
}

TEST_F(DorvikTest, FramesOfAReadNobodyAskedForOnlyAddWhatIsMissing)
{
    Add(Reader.Tags(), Card(7, 1), "Kept");
    Sim.SendRaw(Raw("42 05 03 FF 04  42 09 04 FF 05 00 00 00 07  42 09 04 FF 00 00 00 00 08  42 04 05 FF"));
    ASSERT_TRUE(LogHas("end count=2"));
    EXPECT_EQ(Reader.Tags().Items(0).Name, "Kept");
    EXPECT_EQ(Reader.Tags().Items(0).Bytes[0], 1);
    EXPECT_EQ(Reader.Tags().Items(1).Bytes, Card(8));
    EXPECT_EQ(Reader.Master(), 4u);
}

TEST_F(DorvikTest, WritesTheListInAStopAndWaitExchange)
{
    for (int Size : {0, 3, 250}) {
        Reader.Tags().Clear();
        for (const auto& C : Cards(Size))
            Add(Reader.Tags(), C);
        Reader.SetMaster(uint32_t(Size == 0 ? 0 : 256 + Size - 1)); // only the low byte travels
        Sim.ClearLog();
        Log.clear();
        Reader.WriteDatabase();
        ASSERT_TRUE(LogHas("endupdate busy=false")) << Size << " " << Log.join(",").toStdString() << " wire " << Wire().join(",").toStdString();
        EXPECT_FALSE(Reader.Busy());
        QStringList Expected{"beginupdate busy=true"};
        for (int I = 0; I < Size; ++I)
            Expected << "progress";
        Expected << "endupdate busy=false";
        EXPECT_EQ(Without("receive"), Expected);
        EXPECT_EQ(Sim.Cards(), Cards(Size));
        EXPECT_EQ(Sim.Master(), uint8_t(Size == 0 ? 0 : Size - 1));
        const QStringList W = Wire();
        ASSERT_EQ(W.size(), Size + 2);
        EXPECT_TRUE(W.first().startsWith("42 05 06 FF"));
        EXPECT_EQ(W.last(), "42 04 09 FF");
    }
    EXPECT_EQ(Wire()[1], "42 09 07 FF 00 00 00 03 E8");
}

TEST_F(DorvikTest, AFrameSixDuringAWriteRestartsItAndIdleAcknowledgementsDoNothing)
{
    Sim.SetSilent(true);
    Sim.SendRaw(Raw("42 04 08 FF 42 04 09 FF"));
    ASSERT_TRUE(WaitUntil([&] { return Received().size() == 2; }));
    Pump(50ms);
    EXPECT_TRUE(Sim.ReceivedFrames().empty());
    EXPECT_EQ(Without("receive"), QStringList());

    Add(Reader.Tags(), Card(1));
    Add(Reader.Tags(), Card(2));
    Reader.WriteDatabase();
    Sim.SendRaw(Raw("42 04 06 FF"));
    ASSERT_TRUE(WaitUntil([&] { return Sim.ReceivedFrames().size() >= 2; }));
    Sim.SendRaw(Raw("42 04 08 FF"));
    ASSERT_TRUE(WaitUntil([&] { return Sim.ReceivedFrames().size() >= 3; }));
    Sim.SendRaw(Raw("42 04 06 FF"));
    ASSERT_TRUE(WaitUntil([&] { return Sim.ReceivedFrames().size() >= 4; }));
    const QStringList W = Wire();
    EXPECT_EQ(W[1], "42 09 07 FF 00 00 00 00 01");
    EXPECT_EQ(W[2], "42 09 07 FF 00 00 00 00 02");
    EXPECT_EQ(W[3], "42 09 07 FF 00 00 00 00 01");
    EXPECT_EQ(Log.filter("beginupdate").size(), 2);
    EXPECT_TRUE(Reader.Busy());
}

TEST_F(DorvikTest, DoorSettingsChangeOnlyWhenTheReaderReportsThem)
{
    Sim.SetDoor(2, 30);
    Reader.ReadDoorConfig();
    ASSERT_TRUE(LogHas("receive 10"));
    EXPECT_EQ(Reader.DoorMode(), dmUnlockTimed);
    EXPECT_EQ(Reader.DoorDelay(), 30);
    EXPECT_EQ(Without("receive"), QStringList{"door mode=2 delay=30"});

    Reader.WriteDoorConfig(dmMomentary, 10);
    ASSERT_TRUE(WaitUntil([&] { return Sim.DoorMode() == 1; }));
    EXPECT_EQ(Wire().last(), "42 06 0A FF 01 0A");
    EXPECT_EQ(Sim.DoorDelay(), 10);
    EXPECT_EQ(Reader.DoorMode(), dmUnlockTimed);
    EXPECT_EQ(Reader.DoorDelay(), 30);
    EXPECT_EQ(Log.filter("door").size(), 1); // sending the settings reports nothing
}

TEST_F(DorvikTest, OnDoorConfigFiresOnceTheSettingsAreSet)
{
    // Unasked, and twice: each report is one event that already sees its own values.
    Sim.SendRaw(sim::MakeFrame(sim::CodeDoor, {1, 200}));
    Sim.SendRaw(sim::MakeFrame(sim::CodeDoor, {0, 1}));
    ASSERT_TRUE(LogHas("door mode=0 delay=1"));
    EXPECT_EQ(Log, (QStringList{"receive 10", "door mode=1 delay=200", "receive 10", "door mode=0 delay=1"}));
}

TEST_F(DorvikTest, SwipesAreReportedForListedAndUnlistedCardsAlike)
{
    Add(Reader.Tags(), Card(1234567, 1), "Listed");
    Sim.Swipe(Card(1234567, 1));
    Sim.Swipe(Card(5));
    ASSERT_TRUE(LogHas("swipe 0000000005 000,5"));
    EXPECT_EQ(Without("receive"), (QStringList{"swipe 0001234567 018,54919", "swipe 0000000005 000,5"}));
    EXPECT_EQ(Reader.Tags().Count(), 1);
}

TEST_F(DorvikTest, UnknownCodesAreReportedAfterOnReceiveAndLaterFramesWait)
{
    for (const char* Frame : {"42 04 00 FF", "42 04 02 FF", "42 09 07 FF 00 00 00 00 01", "42 04 0B FF", "42 04 C8 FF"}) {
        Log.clear();
        Reports.clear();
        Sim.SendRaw(Raw(Frame));
        ASSERT_TRUE(WaitUntil([&] { return !Reports.isEmpty(); })) << Frame;
        EXPECT_EQ(Reports, QStringList{"Unknown command"});
        EXPECT_EQ(Log.size(), 1);
        EXPECT_TRUE(Log.first().startsWith("receive "));
    }
    Log.clear();
    Reports.clear();
    Sim.SendRaw(Raw("42 04 63 FF 42 04 05 FF"));
    ASSERT_TRUE(WaitUntil([&] { return !Reports.isEmpty(); }));
    Pump(100ms);
    EXPECT_EQ(Log, QStringList{"receive 99"}); // frame 5 is held until more bytes arrive
    Sim.SendRaw(Raw("00"));
    ASSERT_TRUE(LogHas("end count=0"));
    EXPECT_TRUE(Reader.Connected());
}

TEST_F(DorvikTest, NoiseAndEveryChunkingLeaveTheFramesIntact)
{
    Sim.SetCards(Cards(20));
    for (int Chunk : {1, 2, 3, 5, 8, 13, 64}) {
        Sim.SetChunkSize(Chunk);
        Sim.SendRaw(Raw("00 FF 13 42 00 42 01 42 FF 07"));
        Reader.Tags().Clear();
        Log.clear();
        Reader.ReadDatabase();
        ASSERT_TRUE(LogHas("end count=20")) << Chunk;
        EXPECT_EQ(ListOf(Reader.Tags()), Cards(20));
    }
    EXPECT_TRUE(Reports.isEmpty());
}

TEST_F(DorvikTest, AFloodLargerThanTheCodecIsTakenWithoutLoss)
{
    // A frame that is still being collected while a flood arrives must not make the codec
    // overflow: the reads are sized to the room it has.
    std::vector<uint8_t> Flood = Raw("42 20");
    Flood.resize(30000, 0x11);
    Sim.SendRaw(Flood);
    Sim.SetCards(Cards(3));
    Reader.ReadDatabase();
    ASSERT_TRUE(LogHas("end count=3"));
    EXPECT_EQ(Reports.filter("overflow").size(), 0);
}

TEST_F(DorvikTest, SavesDoorBytesFromItsPropertiesAndLoadsWithoutApplyingThem)
{
    Add(Reader.Tags(), Card(1234567, 1), "Al");
    Reader.SetMaster(0);
    Reader.SetDoorMode(dmMomentary);
    QBuffer Out;
    Out.open(QIODevice::WriteOnly);
    Reader.SaveToStream(Out);
    EXPECT_EQ(Out.data().mid(4, 3), Hex("00 01 05"));
    EXPECT_EQ(Out.data().size(), 35);

    QByteArray File = Out.data();
    File[4] = char(7);
    File[5] = char(2);
    File[6] = char(30);
    TDorvik Other;
    QBuffer In(&File);
    In.open(QIODevice::ReadOnly);
    Other.LoadFromStream(In);
    EXPECT_EQ(Other.Master(), 7u);
    EXPECT_EQ(Other.DoorMode(), dmLockUnlock);
    EXPECT_EQ(Other.DoorDelay(), 5);
    ASSERT_EQ(Other.Tags().Count(), 1);
    EXPECT_EQ(Other.Tags().Items(0).Name, "Al");
    EXPECT_EQ(Other.Tags().Limit, 250);

    QByteArray Bad = "TDBX" + QByteArray(20, '\0');
    QBuffer BadIn(&Bad);
    BadIn.open(QIODevice::ReadOnly);
    EXPECT_THROW(Other.LoadFromStream(BadIn), Exception);
    EXPECT_EQ(Other.Tags().Count(), 1);
    EXPECT_EQ(Other.Master(), 7u);
}

TEST_F(DorvikTest, AHangUpFiresOnDisconnectAndChangesNothingElse)
{
    Add(Reader.Tags(), Card(1), "One");
    Reader.SetMaster(3);
    Sim.HangUp();
    ASSERT_TRUE(LogHas("disconnect"));
    EXPECT_FALSE(Reader.Connected());
    EXPECT_EQ(Reader.Tags().Count(), 1);
    EXPECT_EQ(Reader.Master(), 3u);
    EXPECT_TRUE(Reports.isEmpty());
}

TEST_F(DorvikTest, ASilentReaderStallsTheTransferAndTheListComesBack)
{
    Add(Reader.Tags(), Card(1), "One");
    Add(Reader.Tags(), Card(2), "Two");
    Reader.SetMaster(1);
    bool Stalled = false;
    Reader.OnTransferStalled = [&](QObject*) { Stalled = true; };
    Reader.SetStallTimeout(300);
    Sim.SetCards(Cards(10));
    Sim.SetAnswerLimit(1); // answers the read, then keeps quiet ... after frame 3 and a few cards
    Sim.SetChunkSize(9);
    Sim.SetReplyDelay(30ms);
    Sim.SetAnswerLimit(0);
    Sim.SendRaw(Raw("42 05 03 FF 00 42 09 04 FF 00 00 00 00 09"));
    Reader.ReadDatabase();
    ASSERT_TRUE(WaitUntil([&] { return Stalled; }));
    EXPECT_FALSE(Reader.TransferActive());
    EXPECT_EQ(Reader.Tags().Count(), 2);
    EXPECT_EQ(Reader.Tags().Items(1).Name, "Two");
    EXPECT_EQ(Reader.Master(), 1u);

    Stalled = false;
    Reader.WriteDatabase();
    Sim.SendRaw(Raw("42 04 06 FF"));
    ASSERT_TRUE(WaitUntil([&] { return Reader.Busy(); }));
    ASSERT_TRUE(WaitUntil([&] { return Stalled; }));
    EXPECT_FALSE(Reader.Busy());
}
