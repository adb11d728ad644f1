// The reader swipes cards as fast as the line takes them, for a fixed time: every swipe must be
// reported, in the order sent, and the memory the process holds must stay flat.
//
// DORVIK_SOAK_SECONDS sets the time: 60 s by default, 10 s in a sanitizer build, whose allocator
// keeps freed memory in quarantine and so cannot show a flat line (LeakSanitizer checks that
// build for leaks instead).

#include "reader/Dorvik.h"
#include "sim/SimReader.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool Sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif
#else
constexpr bool Sanitized = false;
#endif

// A leak of a few bytes per swipe shows over the hundreds of thousands of swipes of a run.
constexpr long GrowthAllowed = 4L << 20;
// Swipes queued on the reader's side and not yet on the line: enough to keep the line full.
constexpr uint64_t InFlight = 512;

std::chrono::seconds SoakTime()
{
    if (const char* Text = std::getenv("DORVIK_SOAK_SECONDS"); Text && std::atoi(Text) > 0)
        return std::chrono::seconds(std::atoi(Text));
    return Sanitized ? 10s : 60s;
}

long ResidentBytes()
{
    std::ifstream Statm("/proc/self/statm");
    long Size = 0, Resident = 0;
    Statm >> Size >> Resident;
    return Resident * sysconf(_SC_PAGESIZE);
}

sim::CardBytes NumberedCard(uint64_t Number)
{
    return {uint8_t(Number >> 32), uint8_t(Number >> 24), uint8_t(Number >> 16), uint8_t(Number >> 8),
            uint8_t(Number)};
}

} // namespace

TEST(FaultSoakTest, SwipesAtFullSpeedAreAllReportedInOrderWithFlatMemory)
{
    QStringList Reports;
    const TExceptionReporter Previous =
        SetExceptionReporter([&](const std::exception& E) { Reports << E.what(); });
    uint64_t Reported = 0;
    uint64_t OutOfOrder = 0;
    std::atomic<uint64_t> OnLine{0};

    sim::SimReader Sim;
    Sim.SetObserver([&](sim::SimReader::Direction Way, const sim::Frame&) {
        if (Way == sim::SimReader::Direction::Sent)
            ++OnLine;
    });
    TDorvik Reader;
    Reader.OnCardSwipe = [&](QObject*, TRfidTag& Tag) {
        if (Tag.Bytes != NumberedCard(Reported))
            ++OutOfOrder;
        ++Reported;
    };
    Reader.SetPort(QString::fromStdString(Sim.PortName()));
    Reader.Connect();

    uint64_t Queued = 0;
    QTimer Feeder;
    QObject::connect(&Feeder, &QTimer::timeout, [&] {
        while (Queued - OnLine < InFlight)
            Sim.Swipe(NumberedCard(Queued++));
    });
    Feeder.start(1);

    // Memory is measured once the process has warmed up: buffers, caches and the allocator's
    // arenas have grown to their working size by then.
    const auto Soak = SoakTime();
    const auto Start = std::chrono::steady_clock::now();
    long WarmResident = 0;
    uint64_t WarmReported = 0;
    while (std::chrono::steady_clock::now() - Start < Soak) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (WarmResident == 0 && std::chrono::steady_clock::now() - Start >= Soak / 5) {
            WarmResident = ResidentBytes();
            WarmReported = Reported;
        }
    }
    Feeder.stop();
    ASSERT_TRUE(WaitUntil([&] { return Reported == Queued; }, 60s))
        << Reported << " of " << Queued << " swipes reported";
    const long EndResident = ResidentBytes();
    Sim.SetObserver({});

    EXPECT_EQ(OutOfOrder, 0u);
    EXPECT_TRUE(Reports.isEmpty()) << Reports.join("; ").toStdString();
    EXPECT_TRUE(Reader.Connected());
    const long Growth = EndResident - WarmResident;
    std::printf("soak: %llu swipes in %lld s (%.0f per second), resident %.1f MB, grew %+.1f kB over "
                "the last %llu swipes\n",
                (unsigned long long)Reported, (long long)Soak.count(), double(Reported) / double(Soak.count()),
                double(EndResident) / 1048576.0, double(Growth) / 1024.0,
                (unsigned long long)(Reported - WarmReported));
    if (!Sanitized) {
        EXPECT_LT(Growth, GrowthAllowed);
    }
    SetExceptionReporter(Previous);
}
