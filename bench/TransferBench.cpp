// A write and a read of 250 cards over a pseudo-terminal to a simulated reader that answers at
// once: through the reader component, and through a bare loop that does the same exchange with
// plain read, write and poll on the same kind of line. The bare loop is the floor that the
// operating system and the simulated reader set; the difference is what the program adds, shown
// per card beside the time that card takes on a real line at 19200 bit/s.

#include "bench/BenchCards.h"
#include "bench/BenchTable.h"
#include "reader/Dorvik.h"
#include "sim/SimReader.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int CardCount = 250;
constexpr int Rounds = 31;
constexpr double LineBytesPerSecond = 19200.0 / 10; // a start bit, 8 data bits, a stop bit
constexpr int WriteBytesPerCard = 9 + 4;            // frame 7 out, frame 8 back
constexpr int ReadBytesPerCard = 9;                 // frame 4
constexpr double GoalShare = 0.02;
constexpr int GiveUpMs = 10000;

using Clock = std::chrono::steady_clock;

double MicrosSince(Clock::time_point Start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - Start).count();
}

[[noreturn]] void Fail(const char* What) { BenchFailed("bench_transfer", What); }

double Median(std::vector<double> Values)
{
    std::sort(Values.begin(), Values.end());
    return Values[Values.size() / 2];
}

// The reader component, connected to its own simulated reader.
class TComponentSide
{
public:
    TComponentSide()
    {
        for (const sim::CardBytes& Bytes : BenchCards(CardCount))
            FReader.Tags().Add().Bytes = Bytes;
        FSim.SetCards(BenchCards(CardCount));
        FReader.OnEndUpdate = [this](QObject*) { FLoop.quit(); };
        FReader.OnTransferEnd = [this](QObject*) { FLoop.quit(); };
        FReader.SetPort(QString::fromStdString(FSim.PortName()));
        FReader.Connect();
        FGiveUp.setSingleShot(true);
        QObject::connect(&FGiveUp, &QTimer::timeout, [] { Fail("the component's transfer did not end"); });
    }

    double Write()
    {
        const auto Start = Clock::now();
        FReader.WriteDatabase();
        RunUntilDone();
        return MicrosSince(Start);
    }

    double Read()
    {
        const auto Start = Clock::now();
        FReader.ReadDatabase();
        RunUntilDone();
        const double Time = MicrosSince(Start);
        if (FReader.Tags().Count() != CardCount)
            Fail("the component read a wrong number of cards");
        return Time;
    }

private:
    void RunUntilDone()
    {
        FGiveUp.start(GiveUpMs);
        FLoop.exec();
        FGiveUp.stop();
    }

    sim::SimReader FSim;
    TDorvik FReader;
    QEventLoop FLoop;
    QTimer FGiveUp;
};

// The same exchange with nothing but the system calls, on a line of its own.
class TBareSide
{
public:
    TBareSide()
    {
        FSim.SetCards(BenchCards(CardCount));
        FFd = ::open(FSim.PortName().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios Line{};
        if (FFd < 0 || tcgetattr(FFd, &Line) != 0)
            Fail("cannot open the bare loop's line");
        cfmakeraw(&Line);
        if (tcsetattr(FFd, TCSANOW, &Line) != 0)
            Fail("cannot set the bare loop's line up");
    }
    ~TBareSide() { ::close(FFd); }
    TBareSide(const TBareSide&) = delete;
    TBareSide& operator=(const TBareSide&) = delete;

    double Write()
    {
        const auto Start = Clock::now();
        Send({0x42, 5, 6, 0xFF, 0});
        Await(4);
        for (const sim::CardBytes& C : BenchCards(CardCount)) {
            Send({0x42, 9, 7, 0xFF, C[0], C[1], C[2], C[3], C[4]});
            Await(4);
        }
        Send({0x42, 4, 9, 0xFF});
        Await(4);
        return MicrosSince(Start);
    }

    double Read()
    {
        const auto Start = Clock::now();
        Send({0x42, 4, 2, 0xFF});
        Await(5 + CardCount * 9 + 4);
        return MicrosSince(Start);
    }

private:
    void Send(std::initializer_list<uint8_t> Frame)
    {
        const std::vector<uint8_t> Bytes(Frame);
        size_t Done = 0;
        while (Done < Bytes.size()) {
            const ssize_t Written = ::write(FFd, Bytes.data() + Done, Bytes.size() - Done);
            if (Written > 0)
                Done += size_t(Written);
            else if (errno == EAGAIN || errno == EINTR)
                Wait(POLLOUT);
            else
                Fail("the bare loop cannot write");
        }
    }

    void Await(size_t Count)
    {
        uint8_t Buffer[4096];
        size_t Got = 0;
        while (Got < Count) {
            Wait(POLLIN);
            const ssize_t Read = ::read(FFd, Buffer, std::min(sizeof Buffer, Count - Got));
            if (Read > 0)
                Got += size_t(Read);
            else if (Read == 0 || (errno != EAGAIN && errno != EINTR))
                Fail("the bare loop lost its line");
        }
    }

    void Wait(short Events)
    {
        pollfd Watch{FFd, Events, 0};
        if (::poll(&Watch, 1, GiveUpMs) <= 0)
            Fail("the bare loop's reader did not answer");
    }

    sim::SimReader FSim;
    int FFd = -1;
};

void Compare(const char* Transfer, const std::vector<double>& Component, const std::vector<double>& Bare,
             int LineBytesPerCard, bool HasGoal)
{
    const double Ours = Median(Component);
    const double Floor = Median(Bare);
    const double AddedPerCard = (Ours - Floor) / CardCount;
    const double WirePerCard = 1e6 * LineBytesPerCard / LineBytesPerSecond;
    const double Share = AddedPerCard / WirePerCard;
    const std::string Name = std::string(Transfer) + " of 250 cards";
    PrintFigure(Name + ", component", Fixed(Ours / 1000, 2, "ms"));
    PrintFigure(Name + ", bare loop", Fixed(Floor / 1000, 2, "ms"));
    PrintFigure(Name + ", component / bare loop", Fixed(Ours / Floor, 2, "x"));
    const std::string Added = Fixed(AddedPerCard, 1, "µs") + " = " + Fixed(100 * Share, 2, "%") +
                              " of " + Fixed(WirePerCard / 1000, 2, "ms");
    if (HasGoal)
        PrintFigure(std::string(Transfer) + ": time added per card / wire time at 19200 bit/s", Added,
                    "< 2% (" + Fixed(GoalShare * WirePerCard, 0, "µs") + ")", GoalMet(Share < GoalShare));
    else
        PrintFigure(std::string(Transfer) + ": time added per card / wire time at 19200 bit/s", Added);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication App(argc, argv);
    TComponentSide Component;
    TBareSide Bare;

    // One round each to warm up, then the two sides take turns, so that whatever else the
    // machine does falls on both alike.
    Component.Write();
    Component.Read();
    Bare.Write();
    Bare.Read();
    std::vector<double> ComponentWrites, ComponentReads, BareWrites, BareReads;
    for (int Round = 0; Round < Rounds; ++Round) {
        ComponentWrites.push_back(Component.Write());
        BareWrites.push_back(Bare.Write());
        ComponentReads.push_back(Component.Read());
        BareReads.push_back(Bare.Read());
    }
    std::printf("medians of %d rounds\n", Rounds);
    Compare("write", ComponentWrites, BareWrites, WriteBytesPerCard, true);
    Compare("read", ComponentReads, BareReads, ReadBytesPerCard, false);
    return 0;
}
