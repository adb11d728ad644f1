#include "reader/Packet.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QList>

#include <random>

namespace {

void Feed(TPacketParser& Parser, const QByteArray& Bytes)
{
    Parser.Append(reinterpret_cast<const uint8_t*>(Bytes.constData()), int(Bytes.size()));
}

QByteArray Frame(const TPacket& Packet) { return QByteArray(reinterpret_cast<const char*>(Packet.Data()), Packet.Length()); }

QByteArray Held(const TPacketParser& Parser)
{
    return QByteArray(reinterpret_cast<const char*>(Parser.Held()), Parser.Count());
}

// Every frame the parser gives for the stream, fed in the given chunk sizes.
QList<QByteArray> Cut(const QByteArray& Stream, const QList<int>& Chunks)
{
    TPacketParser Parser;
    QList<QByteArray> Frames;
    int Pos = 0;
    for (int Size : Chunks) {
        Feed(Parser, Stream.mid(Pos, Size));
        Pos += Size;
        while (auto Packet = Parser.ExtractPacket())
            Frames << Frame(*Packet);
    }
    return Frames;
}

} // namespace

TEST(PacketParser, NewParserIsEmptyWithFixedCapacity)
{
    TPacketParser Parser;
    EXPECT_EQ(Parser.Capacity(), 25600);
    EXPECT_EQ(Parser.Count(), 0);
    EXPECT_EQ(Parser.ExtractPacket(), nullptr);
}

TEST(PacketParser, NoiseBeforeFrameIsDroppedAndFewerThanFourBytesAreKept)
{
    TPacketParser Parser;
    Feed(Parser, Hex("01 02 03"));
    EXPECT_EQ(Parser.ExtractPacket(), nullptr);
    EXPECT_EQ(Held(Parser), Hex("01 02 03")); // nothing removed below four bytes

    Feed(Parser, Hex("42 04 05 FF"));
    auto Packet = Parser.ExtractPacket();
    ASSERT_NE(Packet, nullptr);
    EXPECT_EQ(Frame(*Packet), Hex("42 04 05 FF"));
    EXPECT_EQ(Parser.ExtractPacket(), nullptr);
    EXPECT_EQ(Parser.Count(), 0);
}

TEST(PacketParser, FourBytesWithoutStartByteAreAllRemoved)
{
    TPacketParser Parser;
    Feed(Parser, Hex("00 11 22 33 44"));
    EXPECT_EQ(Parser.ExtractPacket(), nullptr);
    EXPECT_EQ(Parser.Count(), 0);
}

TEST(PacketParser, IncompleteFrameStaysUntilTheRestArrives)
{
    TPacketParser Parser;
    Feed(Parser, Hex("42 09 04 FF 01 00 12 D6"));
    EXPECT_EQ(Parser.ExtractPacket(), nullptr);
    EXPECT_EQ(Parser.Count(), 8);
    Feed(Parser, Hex("87"));
    auto Packet = Parser.ExtractPacket();
    ASSERT_NE(Packet, nullptr);
    EXPECT_EQ(Frame(*Packet), Hex("42 09 04 FF 01 00 12 D6 87"));
}

TEST(PacketParser, FramesComeOutInOrderWhateverTheChunking)
{
    const QByteArray Stream = Hex("AA 42 05 03 FF 07 42 09 04 FF 01 00 12 D6 87 13 42 04 05 FF 42 06 0A FF 02 1E");
    const QList<QByteArray> Expected = {Hex("42 05 03 FF 07"), Hex("42 09 04 FF 01 00 12 D6 87"),
                                        Hex("42 04 05 FF"), Hex("42 06 0A FF 02 1E")};
    // Every single split point, then every byte on its own, then all at once.
    for (int Split = 0; Split <= Stream.size(); ++Split)
        EXPECT_EQ(Cut(Stream, {Split, int(Stream.size()) - Split}), Expected) << "split at " << Split;
    EXPECT_EQ(Cut(Stream, QList<int>(Stream.size(), 1)), Expected);
    std::mt19937 Random(7);
    for (int Round = 0; Round < 200; ++Round) {
        QList<int> Chunks;
        for (int Total = 0; Total < Stream.size();) {
            const int Size = int(Random() % 7) + 1;
            Chunks << Size;
            Total += Size;
        }
        EXPECT_EQ(Cut(Stream, Chunks), Expected) << "round " << Round;
    }
}

TEST(PacketParser, StartByteInsidePayloadHasNoEffect)
{
    EXPECT_EQ(Cut(Hex("42 09 04 FF 42 42 42 42 42 42 04 05 FF"), {13}),
              (QList<QByteArray>{Hex("42 09 04 FF 42 42 42 42 42"), Hex("42 04 05 FF")}));
}

TEST(PacketParser, BytesBeyondTheFrameReadAsZero)
{
    TPacketParser Parser;
    Feed(Parser, Hex("42 04 03 FF 07 07 07"));
    auto Packet = Parser.ExtractPacket();
    ASSERT_NE(Packet, nullptr);
    EXPECT_EQ(Packet->Payload(0), 0);
    for (int I = 4; I < TPacket::BufferSize; ++I)
        EXPECT_EQ(Packet->Data()[I], 0) << I;
}

TEST(PacketParser, OverflowRaisesWithBothNumbersAndKeepsWhatIsHeld)
{
    TPacketParser Parser;
    QByteArray Full(25600, '\x11');
    Feed(Parser, Full);
    EXPECT_EQ(Parser.Count(), 25600);
    try {
        Feed(Parser, Hex("42"));
        FAIL() << "no overflow";
    } catch (const Exception& E) {
        EXPECT_STREQ(E.what(), "Parser buffer overflow while attempting to write 1 bytes, only 0 bytes available.");
    }
    EXPECT_EQ(Held(Parser), Full);

    TPacketParser Partly;
    Feed(Partly, QByteArray(25000, '\x11'));
    EXPECT_THROW(Feed(Partly, QByteArray(601, '\x42')), Exception);
    try {
        Feed(Partly, QByteArray(601, '\x42'));
    } catch (const Exception& E) {
        EXPECT_STREQ(E.what(), "Parser buffer overflow while attempting to write 601 bytes, only 600 bytes available.");
    }
    EXPECT_EQ(Partly.Count(), 25000);
}

TEST(PacketParser, BuiltPacketParsesBackByteForByte)
{
    auto Built = TPacket::Build(7, 9);
    for (int I = 0; I < 5; ++I)
        Built->SetPayload(I, uint8_t(0xA0 + I));
    EXPECT_EQ(Frame(*Built), Hex("42 09 07 FF A0 A1 A2 A3 A4"));
    TPacketParser Parser;
    Feed(Parser, Frame(*Built));
    auto Parsed = Parser.ExtractPacket();
    ASSERT_NE(Parsed, nullptr);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(Parsed->Data()), 32),
              QByteArray(reinterpret_cast<const char*>(Built->Data()), 32));
}

TEST(PacketParser, LengthBytesThatDescribeNoFrameAreSkippedWithProgress)
{
    for (int Bad : {0, 1, 2, 3, 33, 200, 255}) {
        TPacketParser Parser;
        QByteArray Stream = Hex("42");
        Stream.append(char(Bad));
        Stream.append(QByteArray(40, '\x42'));
        Stream.append(Hex("42 04 05 FF"));
        // 40 start bytes in a row each carry length 0x42 = 66, above 32: all dropped.
        Feed(Parser, Stream);
        int Calls = 0;
        QList<QByteArray> Frames;
        while (auto Packet = Parser.ExtractPacket()) {
            ASSERT_LE(Packet->Length(), 32);
            Frames << Frame(*Packet);
            ASSERT_LT(++Calls, 100);
        }
        EXPECT_EQ(Frames, QList<QByteArray>{Hex("42 04 05 FF")}) << "length " << Bad;
    }
}

TEST(PacketParser, LargestFrameIsThirtyTwoBytes)
{
    QByteArray Stream = Hex("42 20 01 FF");
    Stream.append(QByteArray(28, '\x5A'));
    EXPECT_EQ(Cut(Stream, {32}), QList<QByteArray>{Stream});
}

TEST(PacketParser, RoomTakenByCutFramesIsFreeAgain)
{
    TPacketParser Parser;
    const QByteArray Frame9 = Hex("42 09 04 FF 01 02 03 04 05");
    QByteArray Full;
    while (Full.size() + Frame9.size() <= 25600)
        Full += Frame9;
    Full += Hex("42 09 04 FF"); // the start of one more frame
    Feed(Parser, Full);
    int Frames = 0;
    while (Parser.ExtractPacket())
        ++Frames;
    EXPECT_EQ(Frames, 2844);
    EXPECT_EQ(Held(Parser), Hex("42 09 04 FF"));
    // Only the four bytes held count against the capacity; they stay in front of what follows.
    Feed(Parser, Hex("0A 0B 0C 0D 0E") + QByteArray(25600 - 9, '\x11'));
    auto Packet = Parser.ExtractPacket();
    ASSERT_NE(Packet, nullptr);
    EXPECT_EQ(Frame(*Packet), Hex("42 09 04 FF 0A 0B 0C 0D 0E"));
}
