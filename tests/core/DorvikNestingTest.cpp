// The reader component when a handler runs a modal loop, as the main window's handlers do, and
// the port is closed, hung up or reopened from inside it; and transfers that the reader starts or
// that stall. Faults here show as a use after free under AddressSanitizer, as a false second
// error, or as a transfer that never ends.

#include "reader/CPort.h"
#include "reader/Dorvik.h"
#include "sim/SimReader.h"
#include "support/SimCards.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <memory>

using namespace std::chrono_literals;

namespace {

std::vector<uint8_t> Raw(const char* HexText)
{
    const QByteArray B = Hex(HexText);
    return std::vector<uint8_t>(B.begin(), B.end());
}

// Runs a nested event loop, as a modal window does: Action runs inside it, and the loop ends
// once Done holds (or after a few seconds).
void RunNested(const std::function<void()>& Action, const std::function<bool()>& Done)
{
    QEventLoop Loop;
    QTimer Tick;
    bool Started = false;
    QDeadlineTimer Deadline(3s);
    QObject::connect(&Tick, &QTimer::timeout, &Loop, [&] {
        if (!Started) {
            Started = true;
            Action();
        } else if (Done() || Deadline.hasExpired()) {
            Loop.quit();
        }
    });
    Tick.start(5);
    Loop.exec();
}

enum class TTrigger { Swipe, EndUpdate, ErrorReport, Stalled, Disconnect };
enum class TAction { Close, HangUp, Reopen };

const char* Name(TTrigger T)
{
    switch (T) {
    case TTrigger::Swipe: return "swipe";
    case TTrigger::EndUpdate: return "end of a write";
    case TTrigger::ErrorReport: return "error report";
    case TTrigger::Stalled: return "stalled transfer";
    case TTrigger::Disconnect: return "hang-up";
    }
    return "";
}
const char* Name(TAction A)
{
    switch (A) {
    case TAction::Close: return "close";
    case TAction::HangUp: return "hang-up";
    case TAction::Reopen: return "reopen";
    }
    return "";
}

} // namespace

// At every point where the main window opens a modal window, the handler's nested loop closes,
// loses or reopens the port; frames that followed on the old line are never handled, nothing is
// read from a closed port, and a reopened line works.
TEST(DorvikNesting, ClosingOrReopeningThePortInsideAHandlersModalLoopIsSafe)
{
    const std::pair<TTrigger, TAction> Cases[] = {
        {TTrigger::Swipe, TAction::Close},         {TTrigger::Swipe, TAction::HangUp},
        {TTrigger::Swipe, TAction::Reopen},        {TTrigger::EndUpdate, TAction::Close},
        {TTrigger::EndUpdate, TAction::HangUp},    {TTrigger::EndUpdate, TAction::Reopen},
        {TTrigger::ErrorReport, TAction::Close},   {TTrigger::ErrorReport, TAction::HangUp},
        {TTrigger::ErrorReport, TAction::Reopen},  {TTrigger::Stalled, TAction::Close},
        {TTrigger::Stalled, TAction::HangUp},      {TTrigger::Stalled, TAction::Reopen},
        {TTrigger::Disconnect, TAction::Reopen},
    };
    for (const auto& [Trigger, Action] : Cases) {
        SCOPED_TRACE(std::string(Name(Trigger)) + ", then " + Name(Action));
        auto Sim = std::make_unique<sim::SimReader>();
        sim::SimReader Spare;
        QStringList Reports;
        QStringList Log;
        TDorvik Reader;
        Reader.SetStallTimeout(150);
        Reader.SetPort(QString::fromStdString(Sim->PortName()));
        Reader.Connect();
        Sim->SetSilent(true);

        bool Nested = false;
        auto Nest = [&] {
            if (Nested)
                return;
            Nested = true;
            RunNested(
                [&] {
                    if (Action == TAction::Close) {
                        Reader.Disconnect();
                    } else if (Action == TAction::HangUp) {
                        Sim->HangUp();
                    } else {
                        Reader.Disconnect();
                        Reader.SetPort(QString::fromStdString(Spare.PortName()));
                        Reader.Connect();
                    }
                },
                [&] { return Action == TAction::Reopen ? Reader.Connected() : !Reader.Connected(); });
            Log << "nested loop over";
        };
        const TExceptionReporter Previous = SetExceptionReporter([&](const std::exception& E) {
            Reports << E.what();
            if (Trigger == TTrigger::ErrorReport)
                Nest();
        });
        Reader.OnCardSwipe = [&](QObject*, TRfidTag&) { Log << "swipe"; if (Trigger == TTrigger::Swipe) Nest(); };
        Reader.OnEndUpdate = [&](QObject*) { if (Trigger == TTrigger::EndUpdate) Nest(); };
        Reader.OnTransferStalled = [&](QObject*) { if (Trigger == TTrigger::Stalled) Nest(); };
        Reader.OnBeginUpdate = [&](QObject*) { Log << "begin update"; };
        Reader.OnDisconnect = [&](QObject*) {
            if (Trigger == TTrigger::Disconnect) Nest();
        };

        // What starts the handler, followed on the same line by a frame 6 that must not be handled
        // once the line is gone.
        switch (Trigger) {
        case TTrigger::Swipe: Sim->SendRaw(Raw("42 09 01 FF 00 00 00 00 07  42 05 06 FF 00")); break;
        case TTrigger::EndUpdate: Sim->SendRaw(Raw("42 05 06 FF 00  42 04 09 FF  42 05 06 FF 00")); break;
        case TTrigger::ErrorReport: Sim->SendRaw(Raw("42 04 0C FF  42 05 06 FF 00")); break;
        case TTrigger::Stalled: Sim->SendRaw(Raw("42 05 03 FF 00")); break;
        case TTrigger::Disconnect: Sim->HangUp(); break;
        }
        ASSERT_TRUE(WaitUntil([&] { return Log.contains("nested loop over"); }));
        Pump(50ms);

        const QStringList Expected = Trigger == TTrigger::ErrorReport ? QStringList{"Unknown command"} : QStringList{};
        EXPECT_EQ(Reports, Expected);
        EXPECT_EQ(Reader.Connected(), Action == TAction::Reopen);
        EXPECT_EQ(Log.count("begin update"), Trigger == TTrigger::EndUpdate ? 1 : 0) << Log.join(", ").toStdString();
        if (Action == TAction::Reopen) {
            Spare.Swipe(Card(42));
            EXPECT_TRUE(WaitUntil([&] { return Log.count("swipe") == (Trigger == TTrigger::Swipe ? 2 : 1); }));
        }
        if (Trigger == TTrigger::Stalled || Action != TAction::Reopen)
            EXPECT_TRUE(WaitUntil([&] { return !Reader.Busy(); }));
        Reader.OnDisconnect = nullptr;
        SetExceptionReporter(Previous);
    }
}

// A transfer the reader starts by itself is watched like one asked for; a card of a write goes
// out exactly once however the writes in between fail.
class DorvikTransferTest : public ::testing::Test
{
protected:
    QStringList Reports;
    TExceptionReporter Previous;
    sim::SimReader Sim;
    TDorvik Reader;
    int Stalls = 0;

    void SetUp() override
    {
        Previous = SetExceptionReporter([this](const std::exception& E) { Reports << E.what(); });
        Reader.OnTransferStalled = [this](QObject*) { ++Stalls; };
        Reader.SetStallTimeout(200);
        Reader.SetPort(QString::fromStdString(Sim.PortName()));
        Reader.Connect();
    }
    void TearDown() override { SetExceptionReporter(Previous); }
};

TEST_F(DorvikTransferTest, TransfersTheReaderStartsAndThenAbandonsAreGivenUp)
{
    Sim.SetSilent(true);
    for (const char* Start : {"42 05 06 FF 00", "42 05 03 FF 00  42 09 04 FF 00 00 00 00 05"}) {
        SCOPED_TRACE(Start);
        Stalls = 0;
        Sim.SendRaw(Raw(Start));
        ASSERT_TRUE(WaitUntil([&] { return Reader.TransferActive(); }));
        EXPECT_TRUE(WaitUntil([&] { return !Reader.TransferActive() && !Reader.Busy(); }, 2s));
        EXPECT_EQ(Stalls, 1);
    }
    // The unasked read's card did not stay: the list is as it was before the read began.
    EXPECT_EQ(Reader.Tags().Count(), 0);
}

TEST_F(DorvikTransferTest, ACardWhoseFrameDidNotGoOutIsSentAgainOnTheNextAcknowledgement)
{
    for (uint32_t Value : {11u, 22u, 33u})
        Reader.Tags().Add().Bytes = Card(Value);
    Reader.SetStallTimeout(0);
    // The far side stops our output with XOFF after acknowledging the first card, so the frame
    // of the second one cannot leave within the write time-out.
    Reader.ComPort().FlowControl().SetXonXoffOut(true);
    Reader.ComPort().Timeouts().SetWriteTotalConstant(150);
    Reader.ComPort().Timeouts().SetWriteTotalMultiplier(0);
    Sim.SetSilent(true);
    Reader.WriteDatabase();
    Sim.SendRaw(Raw("42 05 06 FF 00"));
    ASSERT_TRUE(WaitUntil([&] { return Sim.ReceivedFrames().size() == 2; })); // frame 6, the first card
    Sim.SendRaw(Raw("13 42 04 08 FF"));
    ASSERT_TRUE(WaitUntil([&] { return !Reports.isEmpty(); }));
    EXPECT_EQ(Reports.front(), "WriteFile function failed");
    // The line flows again and the reader repeats its acknowledgement.
    Sim.SendRaw(Raw("11 42 04 08 FF"));
    ASSERT_TRUE(WaitUntil([&] { return Sim.ReceivedFrames().size() == 3; }));
    EXPECT_EQ(Sim.ReceivedFrames()[2], (sim::Frame{0x42, 0x09, 0x07, 0xFF, 0, 0, 0, 0, 22}));
}

// A read given up is skipped to its end only while a watchdog can end the skip; with the watchdog
// off the next read must still arrive.
TEST_F(DorvikTransferTest, AGivenUpReadDoesNotSwallowTheNextWhenNothingWatches)
{
    for (const int Watchdog : {0, 200}) {
        SCOPED_TRACE(Watchdog);
        Reader.SetStallTimeout(Watchdog);
        Sim.SendRaw(Raw("42 05 03 FF 00  42 09 04 FF 00 00 00 00 05"));
        ASSERT_TRUE(WaitUntil([&] { return Reader.Tags().Count() == 1; }));
        Reader.CancelTransfer();
        if (Watchdog > 0)
            Pump(std::chrono::milliseconds(Watchdog * 2)); // the quiet that ends the skip
        Sim.SendRaw(Raw("42 05 03 FF 01  42 09 04 FF 00 00 00 00 06  42 09 04 FF 00 00 00 00 07  42 04 05 FF"));
        ASSERT_TRUE(WaitUntil([&] { return !Reader.TransferActive() && Reader.Tags().Count() == 2; }));
        EXPECT_EQ(Reader.Master(), 1u);
        Reader.Tags().Clear();
        Reader.SetMaster(0);
    }
}
