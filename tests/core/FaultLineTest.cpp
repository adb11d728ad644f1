// The reader component against a line that misbehaves: the reader hangs up in the middle of a
// transfer, floods the line with noise or unknown frames, or stops in the middle of a frame.
// After each the component must be usable again without a restart.

#include "reader/Dorvik.h"
#include "reader/Protocol.h"
#include "sim/SimReader.h"
#include "support/SimCards.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <random>

using namespace std::chrono_literals;

namespace {

std::vector<uint8_t> Raw(const char* HexText)
{
    const QByteArray Bytes = Hex(HexText);
    return std::vector<uint8_t>(Bytes.begin(), Bytes.end());
}

// What a user would lose: the cards with their names, and the master index.
struct TListState
{
    std::vector<std::pair<sim::CardBytes, QByteArray>> Cards;
    uint32_t Master = 0;
    bool operator==(const TListState&) const = default;
};

TListState StateOf(TDorvik& Reader)
{
    TListState State;
    for (int I = 0; I < Reader.Tags().Count(); ++I)
        State.Cards.emplace_back(Reader.Tags().Items(I).Bytes, Reader.Tags().Items(I).Name);
    State.Master = Reader.Master();
    return State;
}

std::vector<sim::CardBytes> BytesOf(TDorvik& Reader)
{
    std::vector<sim::CardBytes> Result;
    for (const auto& [Bytes, Name] : StateOf(Reader).Cards)
        Result.push_back(Bytes);
    return Result;
}


// The frames our own codec cuts from a byte stream; a component that handled the stream must
// have handled exactly these.
struct TFrameCount
{
    int Unknown = 0;
    int Swipes = 0;
};

TFrameCount CountFrames(const std::vector<uint8_t>& Stream)
{
    TPacketParser Parser;
    TFrameCount Count;
    for (size_t At = 0; At < Stream.size(); At += 4096) {
        Parser.Append(Stream.data() + At, int(std::min<size_t>(4096, Stream.size() - At)));
        while (std::unique_ptr<TPacket> Packet = Parser.ExtractPacket()) {
            Count.Unknown += protocol::IsReaderCode(Packet->Code()) ? 0 : 1;
            Count.Swipes += Packet->Code() == protocol::fcCardSwipe ? 1 : 0;
        }
    }
    return Count;
}

class FaultLineTest : public ::testing::Test
{
protected:
    QStringList Reports;
    TExceptionReporter Previous;
    int Disconnects = 0;
    int TransferEnds = 0;
    int Progress = 0;
    int EndUpdates = 0;
    int Swipes = 0;
    sim::CardBytes LastSwipe{};
    std::unique_ptr<sim::SimReader> Sim = std::make_unique<sim::SimReader>();
    TDorvik Reader; // after the counters and the line: its destructor still reports

    void SetUp() override
    {
        Previous = SetExceptionReporter([this](const std::exception& E) { Reports << E.what(); });
        Reader.OnDisconnect = [this](QObject*) { ++Disconnects; };
        Reader.OnTransferEnd = [this](QObject*) { ++TransferEnds; };
        Reader.OnUpdateProgress = [this](QObject*) { ++Progress; };
        Reader.OnEndUpdate = [this](QObject*) { ++EndUpdates; };
        Reader.OnCardSwipe = [this](QObject*, TRfidTag& Tag) {
            ++Swipes;
            LastSwipe = Tag.Bytes;
        };
        ConnectTo(*Sim);
    }
    void TearDown() override { SetExceptionReporter(Previous); }

    void ConnectTo(sim::SimReader& Line)
    {
        Reader.SetPort(QString::fromStdString(Line.PortName()));
        Reader.Connect();
    }

    void AddNamed(const sim::CardBytes& Bytes, const char* Name)
    {
        TRfidTag& Tag = Reader.Tags().Add();
        Tag.Bytes = Bytes;
        Tag.Name = Name;
    }

    // Sends the bytes with a swipe of Marker behind them and waits until that swipe is reported.
    // An unknown code ends the handling of a notification and the rest waits for the next
    // bytes, so one zero byte follows each report.
    bool SendAndWaitUntilHandled(std::vector<uint8_t> Bytes, const sim::CardBytes& Marker)
    {
        Sim->SendRaw(Bytes);
        Sim->Swipe(Marker);
        qsizetype NudgedAt = 0;
        return WaitUntil(
            [&] {
                if (Reports.size() != NudgedAt) {
                    NudgedAt = Reports.size();
                    Sim->SendRaw({0});
                }
                return LastSwipe == Marker;
            },
            60s);
    }

    void ExpectAFullReadStillWorks()
    {
        Sim->SetCards(Cards(5));
        Sim->SetMaster(2);
        const int EndsBefore = TransferEnds;
        Reader.ReadDatabase();
        ASSERT_TRUE(WaitUntil([&] { return TransferEnds > EndsBefore; }));
        EXPECT_EQ(BytesOf(Reader), Cards(5));
        EXPECT_EQ(Reader.Master(), 2u);
    }

    void ExpectOnlyReports(const QString& Text)
    {
        for (const QString& Report : Reports)
            ASSERT_EQ(Report, Text);
    }
};

} // namespace

TEST_F(FaultLineTest, AHangUpDuringAReadDisconnectsAndCancellingGivesTheListBack)
{
    AddNamed(Card(1), "Front");
    AddNamed(Card(2), "Back");
    Reader.SetMaster(1);
    const TListState Before = StateOf(Reader);
    Sim->SetCards(Cards(250));
    Sim->SetMaster(7);
    Sim->SetReplyDelay(5ms); // a read that lasts over a second, to hang up in the middle of it

    Reader.ReadDatabase();
    ASSERT_TRUE(WaitUntil([&] { return Reader.Tags().Count() >= 20; }));
    Sim->HangUp();
    ASSERT_TRUE(WaitUntil([&] { return Disconnects == 1; }));
    EXPECT_FALSE(Reader.Connected());
    EXPECT_EQ(TransferEnds, 0);
    EXPECT_TRUE(Reader.TransferActive()); // a hang-up by itself gives nothing up
    Reader.CancelTransfer();
    EXPECT_EQ(StateOf(Reader), Before);
    EXPECT_TRUE(Reports.isEmpty()) << Reports.join("; ").toStdString();

    sim::SimReader Next;
    Next.SetCards({Card(2), Card(9)});
    Next.SetMaster(1);
    ConnectTo(Next);
    Reader.ReadDatabase();
    ASSERT_TRUE(WaitUntil([&] { return TransferEnds == 1; }));
    const TListState After = StateOf(Reader);
    ASSERT_EQ(After.Cards.size(), 2u);
    EXPECT_EQ(After.Cards[0], std::make_pair(Card(2), QByteArray("Back")));
    EXPECT_EQ(After.Cards[1], std::make_pair(Card(9), QByteArray()));
    EXPECT_EQ(After.Master, 1u);
}

TEST_F(FaultLineTest, AHangUpDuringAWriteDisconnectsAndTheWriteRunsAgainOnANewLine)
{
    const std::vector<sim::CardBytes> Written = Cards(250);
    for (size_t I = 0; I < Written.size(); ++I)
        AddNamed(Written[I], QByteArray::number(qulonglong(I)).constData());
    Reader.SetMaster(3);
    const TListState Before = StateOf(Reader);
    Sim->SetReplyDelay(5ms);

    Reader.WriteDatabase();
    ASSERT_TRUE(WaitUntil([&] { return Progress >= 20; }));
    Sim->HangUp();
    ASSERT_TRUE(WaitUntil([&] { return Disconnects == 1; }));
    EXPECT_FALSE(Reader.Connected());
    EXPECT_EQ(EndUpdates, 0);
    EXPECT_TRUE(Reader.Busy()); // only the reader's frame 9 ends a write
    // A card that goes out just as the line goes away fails to write; nothing else may fail.
    ExpectOnlyReports("WriteFile function failed (Error: 5)");
    Reader.CancelTransfer();
    EXPECT_FALSE(Reader.Busy());
    EXPECT_EQ(StateOf(Reader), Before);

    sim::SimReader Next;
    ConnectTo(Next);
    Reader.WriteDatabase();
    ASSERT_TRUE(WaitUntil([&] { return EndUpdates == 1; }));
    EXPECT_EQ(Next.Cards(), Written);
    EXPECT_EQ(Next.Master(), 3);
}

TEST_F(FaultLineTest, AFloodOfRandomBytesIsHandledFrameByFrameAndAReadStillWorks)
{
    std::mt19937 Random(20240611);
    std::uniform_int_distribution<int> Byte(0, 255);
    std::vector<uint8_t> Flood(100000);
    for (uint8_t& B : Flood)
        B = uint8_t(Byte(Random));
    // Without a checksum a frame that the noise leaves open swallows whatever comes next; the
    // noise ends with enough zeros to close it, as a line that falls quiet would.
    Flood.resize(Flood.size() + TPacket::BufferSize, 0);
    const sim::CardBytes Marker = Card(0xC0FFEE, 0xA5);
    std::vector<uint8_t> Stream = Flood;
    const std::vector<uint8_t> MarkerFrame = Raw("42 09 01 FF A5 00 C0 FF EE");
    Stream.insert(Stream.end(), MarkerFrame.begin(), MarkerFrame.end());
    const TFrameCount Expected = CountFrames(Stream);
    ASSERT_GT(Expected.Unknown, 20);

    // Frames 6 and 8 in the noise make the component send cards; answers to them would be mixed
    // into the noise.
    Sim->SetSilent(true);
    ASSERT_TRUE(SendAndWaitUntilHandled(Flood, Marker));
    EXPECT_EQ(Reports.size(), Expected.Unknown);
    ExpectOnlyReports("Unknown command");
    EXPECT_EQ(Swipes, Expected.Swipes);
    EXPECT_TRUE(Reader.Connected());

    Sim->SetSilent(false);
    ExpectAFullReadStillWorks();
}

TEST_F(FaultLineTest, AFloodOfUnknownFramesReportsEachOneAndAReadStillWorks)
{
    std::mt19937 Random(7);
    std::uniform_int_distribution<int> Code(11, 255), Length(4, TPacket::BufferSize), Byte(0, 255);
    std::vector<uint8_t> Flood;
    const int Frames = 500;
    for (int I = 0; I < Frames; ++I) {
        const int FrameLength = Length(Random);
        const uint8_t Codes[] = {0, 2, 7, uint8_t(Code(Random))};
        Flood.insert(Flood.end(), {0x42, uint8_t(FrameLength), Codes[I % 4], 0xFF});
        for (int P = 4; P < FrameLength; ++P)
            Flood.push_back(uint8_t(Byte(Random)));
    }

    ASSERT_TRUE(SendAndWaitUntilHandled(Flood, Card(77)));
    EXPECT_EQ(Reports.size(), Frames);
    ExpectOnlyReports("Unknown command");
    ExpectAFullReadStillWorks();
}

TEST_F(FaultLineTest, AFrameCutShortForeverStallsTheReadAndGivesTheListBack)
{
    AddNamed(Card(1), "Front");
    AddNamed(Card(2), "Back");
    Reader.SetMaster(1);
    const TListState Before = StateOf(Reader);
    bool Stalled = false;
    Reader.OnTransferStalled = [&](QObject*) { Stalled = true; };
    Reader.SetStallTimeout(300);

    Sim->SetSilent(true);
    Reader.ReadDatabase();
    Sim->SendRaw(Raw("42 05 03 FF 00  42 09 04 FF 01 02")); // stops inside its first card
    ASSERT_TRUE(WaitUntil([&] { return Stalled; }));
    EXPECT_FALSE(Reader.TransferActive());
    EXPECT_EQ(StateOf(Reader), Before);
    EXPECT_TRUE(Reader.Connected());
    EXPECT_TRUE(Reports.isEmpty()) << Reports.join("; ").toStdString();
}

TEST_F(FaultLineTest, AReadAfterAStalledFrameGetsTheReadersWholeList)
{
    // The rest of the cut frame never comes; the bytes it left must not swallow the start of
    // the next read.
    Reader.SetStallTimeout(300);
    bool Stalled = false;
    Reader.OnTransferStalled = [&](QObject*) { Stalled = true; };
    Sim->SetSilent(true);
    Reader.ReadDatabase();
    Sim->SendRaw(Raw("42 05 03 FF 00  42 09 04 FF 01 02"));
    ASSERT_TRUE(WaitUntil([&] { return Stalled; }));

    Sim->SetSilent(false);
    ExpectAFullReadStillWorks();
}
