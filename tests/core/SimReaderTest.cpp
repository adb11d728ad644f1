#include "core/RawLine.h"
#include "sim/SimReader.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <poll.h>
#include <termios.h>

#include <atomic>
#include <mutex>

using namespace std::chrono_literals;

namespace {

const sim::CardBytes CardA{0x01, 0x00, 0x12, 0xD6, 0x87};
const sim::CardBytes CardB{0x00, 0xDE, 0xAD, 0xBE, 0xEF};
const sim::CardBytes CardC{0x00, 0x00, 0x00, 0x00, 0x07};

struct Connected
{
    sim::SimReader Reader;
    RawLine Port{Reader.PortName()};
    Connected() { Port.MakeRaw(); }
};

} // namespace

TEST(SimReader, LeavesTheLineInCookedModeAndSaysNothingUnasked)
{
    std::atomic<int> Dropped = 0; // outlives the reader, whose thread reports to it
    sim::SimReader Reader;
    ASSERT_EQ(Reader.PortName().rfind("/dev/", 0), 0u) << Reader.PortName();
    RawLine Port(Reader.PortName());
    ASSERT_TRUE(Port.IsOpen());
    EXPECT_TRUE(Port.LocalFlags() & ICANON);
    EXPECT_TRUE(Port.LocalFlags() & ECHO);

    // Nobody has set the line up yet: a swipe is lost, not echoed back or left waiting.
    Reader.SetObserver([&](sim::SimReader::Direction Way, const sim::Frame&) {
        Dropped += Way == sim::SimReader::Direction::Dropped;
    });
    Reader.Swipe(CardA);
    ASSERT_TRUE(WaitUntil([&] { return Dropped == 1; }));
    EXPECT_TRUE(Port.LocalFlags() & ICANON);

    // The first bytes to arrive are the answer to the first question.
    Port.MakeRaw();
    ASSERT_TRUE(Port.Write(Hex("42 04 0B FF")));
    EXPECT_EQ(Port.Read(6), Hex("42 06 0A FF 00 05"));
}

TEST(SimReader, ReadSendsMasterEveryCardAndEndAndReportsTraffic)
{
    std::mutex Lock;
    std::vector<std::pair<sim::SimReader::Direction, uint8_t>> Seen;
    Connected Line;
    Line.Reader.SetCards({CardA, CardB});
    Line.Reader.SetMaster(1);
    Line.Reader.SetObserver([&](sim::SimReader::Direction Way, const sim::Frame& F) {
        std::lock_guard Guard(Lock);
        Seen.emplace_back(Way, F.at(2));
    });

    ASSERT_TRUE(Line.Port.Write(Hex("42 04 02 FF")));
    EXPECT_EQ(Line.Port.Read(27), Hex("42 05 03 FF 01"
                                      "42 09 04 FF 01 00 12 D6 87"
                                      "42 09 04 FF 00 DE AD BE EF"
                                      "42 04 05 FF"));

    ASSERT_TRUE(WaitUntil([&] { std::lock_guard Guard(Lock); return Seen.size() == 5; }));
    using D = sim::SimReader::Direction;
    std::lock_guard Guard(Lock);
    EXPECT_EQ(Seen, (decltype(Seen){
                        {D::Received, 2}, {D::Sent, 3}, {D::Sent, 4}, {D::Sent, 4}, {D::Sent, 5}}));
}

TEST(SimReader, WriteReplacesCardsAndMasterOnlyWhenItEnds)
{
    Connected Line;
    Line.Reader.SetCards({CardC});

    // Frame 9 with no write announced is echoed and changes nothing.
    ASSERT_TRUE(Line.Port.Write(Hex("42 04 09 FF")));
    EXPECT_EQ(Line.Port.Read(4), Hex("42 04 09 FF"));

    ASSERT_TRUE(Line.Port.Write(Hex("42 05 06 FF 01")));
    EXPECT_EQ(Line.Port.Read(4), Hex("42 04 06 FF"));
    ASSERT_TRUE(Line.Port.Write(Hex("42 09 07 FF 01 00 12 D6 87")));
    EXPECT_EQ(Line.Port.Read(4), Hex("42 04 08 FF"));
    ASSERT_TRUE(Line.Port.Write(Hex("42 09 07 FF 00 DE AD BE EF")));
    EXPECT_EQ(Line.Port.Read(4), Hex("42 04 08 FF"));
    EXPECT_EQ(Line.Reader.Cards(), std::vector<sim::CardBytes>{CardC});
    EXPECT_EQ(Line.Reader.Master(), 0);

    ASSERT_TRUE(Line.Port.Write(Hex("42 04 09 FF")));
    EXPECT_EQ(Line.Port.Read(4), Hex("42 04 09 FF"));
    EXPECT_EQ(Line.Reader.Cards(), (std::vector<sim::CardBytes>{CardA, CardB}));
    EXPECT_EQ(Line.Reader.Master(), 1);

    // A second write starts from an empty list.
    ASSERT_TRUE(Line.Port.Write(Hex("42 05 06 FF 00 42 04 09 FF")));
    EXPECT_EQ(Line.Port.Read(8), Hex("42 04 06 FF 42 04 09 FF"));
    EXPECT_TRUE(Line.Reader.Cards().empty());
}

TEST(SimReader, DoorSettingsAreStoredWithoutAnswerAndReportedOnRequest)
{
    Connected Line;
    ASSERT_TRUE(Line.Port.Write(Hex("42 06 0A FF 02 1E")));
    ASSERT_TRUE(Line.Port.Write(Hex("42 04 0B FF")));
    // Had frame 10 been answered, its answer would come first.
    EXPECT_EQ(Line.Port.Read(6), Hex("42 06 0A FF 02 1E"));
    EXPECT_EQ(Line.Reader.DoorMode(), 2);
    EXPECT_EQ(Line.Reader.DoorDelay(), 30);

    Line.Reader.SetDoor(1, 10);
    ASSERT_TRUE(Line.Port.Write(Hex("42 04 0B FF")));
    EXPECT_EQ(Line.Port.Read(6), Hex("42 06 0A FF 01 0A"));
}

TEST(SimReader, CutsFramesOutOfNoiseAndPiecesLikeTheProgram)
{
    Connected Line;
    // Noise, a start byte with an impossible length, an unknown code, then a read split in two.
    ASSERT_TRUE(Line.Port.Write(Hex("00 13 42 02 42 04 63 FF 42 04")));
    ASSERT_TRUE(Line.Port.Write(Hex("02 FF")));
    EXPECT_EQ(Line.Port.Read(9), Hex("42 05 03 FF 00 42 04 05 FF"));
    ASSERT_TRUE(Line.Reader.WaitForFrames(2, 5s));
    EXPECT_EQ(Line.Reader.ReceivedFrames(),
              (std::vector<sim::Frame>{{0x42, 4, 0x63, 0xFF}, {0x42, 4, 2, 0xFF}}));
    EXPECT_EQ(Line.Reader.ReceivedBytes().size(), 12u);

    Line.Reader.ClearLog();
    EXPECT_TRUE(Line.Reader.ReceivedFrames().empty());
    EXPECT_TRUE(Line.Reader.ReceivedBytes().empty());
}

TEST(SimReader, SwipeAndRawBytesGoOutAsGiven)
{
    Connected Line;
    Line.Reader.Swipe(CardA);
    Line.Reader.SendRaw({0x42, 0x04, 0x63});
    EXPECT_EQ(Line.Port.Read(12), Hex("42 09 01 FF 01 00 12 D6 87 42 04 63"));
}

TEST(SimReader, ChunkedAndDelayedRepliesDeliverTheSameBytes)
{
    Connected Line;
    Line.Reader.SetCards({CardA, CardB, CardC});
    Line.Reader.SetMaster(2);
    Line.Reader.SetChunkSize(1);
    Line.Reader.SetReplyDelay(1ms);
    ASSERT_TRUE(Line.Port.Write(Hex("42 04 02 FF")));
    EXPECT_EQ(Line.Port.Read(36), Hex("42 05 03 FF 02"
                                      "42 09 04 FF 01 00 12 D6 87"
                                      "42 09 04 FF 00 DE AD BE EF"
                                      "42 09 04 FF 00 00 00 00 07"
                                      "42 04 05 FF"));
}

TEST(SimReader, SilenceAndAnswerLimitWithholdAnswersButKeepState)
{
    Connected Line;
    Line.Reader.SetSilent(true);
    ASSERT_TRUE(Line.Port.Write(Hex("42 04 0B FF 42 05 06 FF 03 42 04 09 FF")));
    ASSERT_TRUE(Line.Reader.WaitForFrames(3, 5s));
    EXPECT_EQ(Line.Reader.Master(), 3);

    Line.Reader.SetSilent(false);
    Line.Reader.SetAnswerLimit(1);
    ASSERT_TRUE(Line.Port.Write(Hex("42 04 0B FF 42 04 0B FF")));
    ASSERT_TRUE(Line.Reader.WaitForFrames(5, 5s));
    Line.Reader.SetAnswerLimit(-1);
    ASSERT_TRUE(Line.Port.Write(Hex("42 04 02 FF")));
    // Only the first of the limited questions and the last read get through.
    EXPECT_EQ(Line.Port.Read(15), Hex("42 06 0A FF 00 05 42 05 03 FF 03 42 04 05 FF"));
}

TEST(SimReader, HangUpReachesTheProgramsEnd)
{
    Connected Line;
    Line.Reader.HangUp();
    EXPECT_TRUE(Line.Port.WaitFor(POLLIN) & POLLHUP);
    Line.Reader.Swipe(CardA); // harmless once the line is gone
}

TEST(SimReader, DestructionDoesNotWaitForPendingWork)
{
    {
        sim::SimReader Unopened;
        for (int I = 0; I < 1000; ++I)
            Unopened.Swipe(CardA);
    }
    Connected Line;
    Line.Reader.SetReplyDelay(1h);
    ASSERT_TRUE(Line.Port.Write(Hex("42 04 02 FF")));
    ASSERT_TRUE(Line.Reader.WaitForFrames(1, 5s));
    // Leaving the scope must not wait for the delayed answer; CTest's time-out is the judge.
}
