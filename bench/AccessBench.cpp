// The time rules over a year: every boundary of 16 doors whose 250 cards each have a from, an
// until and a schedule (who comes on and who goes off at each, as `dorvik-cli access plan`
// and the file's check need them), from a fresh set of rules, so that laying the schedules on the
// year's days in Europe/Berlin is counted too; and each door's next boundary, which the agent
// asks after every one.

#include "access/AccessRules.h"
#include "bench/BenchTable.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace {

constexpr int Cards = 250;
constexpr int Doors = 16;
constexpr double YearGoalMs = 50;

const char* const ScheduleNames[] = {"office", "cleaners", "night", "weekend", "early", "late"};

QMap<QString, TSchedule> Schedules()
{
    const std::vector<std::vector<std::pair<int, TPeriod>>> Weeks = {
        {{0, {480, 750}}, {0, {810, 1080}}, {1, {480, 750}}, {1, {810, 1080}}, {2, {480, 750}}, {2, {810, 1080}},
         {3, {480, 750}}, {3, {810, 1080}}, {4, {480, 750}}, {4, {810, 1080}}},
        {{1, {1080, 1200}}, {4, {1080, 1200}}},
        {{0, {1320, 1800}}, {1, {1320, 1800}}, {2, {1320, 1800}}, {3, {1320, 1800}}, {4, {1320, 1800}}, {5, {1320, 1800}}, {6, {1320, 1800}}},
        {{5, {540, 1020}}, {6, {540, 1020}}},
        {{0, {360, 540}}, {1, {360, 540}}, {2, {360, 540}}, {3, {360, 540}}, {4, {360, 540}}},
        {{0, {1020, 1380}}, {1, {1020, 1380}}, {2, {1020, 1380}}, {3, {1020, 1380}}, {4, {1020, 1380}}},
    };
    QMap<QString, TSchedule> Result;
    for (size_t S = 0; S < Weeks.size(); ++S) {
        TSchedule& Schedule = Result[ScheduleNames[S]];
        Schedule.Name = ScheduleNames[S];
        for (const auto& [Day, Period] : Weeks[S])
            Schedule.Days[size_t(Day)].push_back(Period);
    }
    return Result;
}

// Card 0 is the master; every other card starts within the first two months and ends within
// the next fifteen, on one of the six schedules at most doors, always at a few.
TSiteList Site()
{
    TSiteList Site;
    for (int D = 0; D < Doors; ++D)
        Site.Doors.append(QStringLiteral("door-%1").arg(D));
    const QDate Start(2026, 1, 1);
    for (int C = 0; C < Cards; ++C) {
        TSiteCard Card;
        const uint32_t Value = 100000 + uint32_t(C) * 7919;
        Card.Tag.Bytes = {0, uint8_t(Value >> 24), uint8_t(Value >> 16), uint8_t(Value >> 8), uint8_t(Value)};
        Card.Tag.Name = QByteArray("Card ") + QByteArray::number(C);
        if (C > 0) {
            Card.From = TLocalMoment{Start.addDays(C % 60), {}};
            Card.Until = TLocalMoment{Start.addDays(90 + (C * 37) % 450), C % 3 ? QTime() : QTime(18, 0)};
        }
        for (int D = 0; D < Doors; ++D) {
            const int Pick = (C + D) % 8;
            Card.Cells.push_back(Pick < 6 ? TDoorCell{TDoorCell::Scheduled, ScheduleNames[Pick]}
                                 : Pick == 6 ? TDoorCell{TDoorCell::Yes, {}} : TDoorCell{});
        }
        Site.Cards.push_back(Card);
    }
    Site.Master = 0;
    return Site;
}

TAccessSetup Setup()
{
    TAccessSetup Setup;
    Setup.Zone = QTimeZone("Europe/Berlin");
    Setup.Schedules = Schedules();
    return Setup;
}

const QDateTime From = QDateTime(QDate(2026, 2, 1), QTime(0, 0), Qt::UTC);

void YearOfBoundaries(benchmark::State& State)
{
    const TSiteList List = Site();
    const TAccessSetup Given = Setup();
    size_t Changes = 0;
    size_t Moves = 0;
    for (auto _ : State) {
        const TAccessRules Rules(List, Given);
        const std::vector<TListChange> Year = Rules.Changes(From, From.addYears(1));
        Changes = Year.size();
        Moves = 0;
        for (const TListChange& Change : Year)
            Moves += Change.Added.size() + Change.Removed.size();
        benchmark::DoNotOptimize(Year.data());
    }
    State.counters["changes"] = double(Changes);
    State.counters["cards_moved"] = double(Moves);
}
BENCHMARK(YearOfBoundaries)->Unit(benchmark::kMillisecond);

void NextBoundaries(benchmark::State& State)
{
    const TAccessRules Rules(Site(), Setup());
    QDateTime At = From;
    for (auto _ : State) {
        const std::optional<QDateTime> Next = Rules.NextBoundary(At);
        At = Next ? *Next : From;
    }
}
BENCHMARK(NextBoundaries)->Unit(benchmark::kMicrosecond);

class TTableReporter : public benchmark::ConsoleReporter
{
public:
    std::map<std::string, double> Ms; // per iteration

    TTableReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& Runs) override
    {
        ConsoleReporter::ReportRuns(Runs);
        for (const Run& R : Runs)
            if (!R.error_occurred && R.run_type == Run::RT_Iteration)
                Ms[R.run_name.function_name] = R.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(R.time_unit) * 1000;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication App(argc, argv);
    std::vector<char*> Args(argv, argv + argc);
    char NoColor[] = "--benchmark_color=false";
    Args.insert(Args.begin() + 1, NoColor);
    int Count = int(Args.size());
    benchmark::Initialize(&Count, Args.data());
    TTableReporter Reporter;
    benchmark::RunSpecifiedBenchmarks(&Reporter);
    benchmark::Shutdown();

    if (const auto Year = Reporter.Ms.find("YearOfBoundaries"); Year != Reporter.Ms.end())
        PrintFigure("access rules: a year of boundaries, 250 cards x 16 doors", Fixed(Year->second, 1, "ms"), "< 50 ms",
                    GoalMet(Year->second < YearGoalMs));
    if (const auto Next = Reporter.Ms.find("NextBoundaries"); Next != Reporter.Ms.end())
        PrintFigure("access rules: next boundary of 16 doors", Fixed(Next->second * 1000, 0, "us"));
    return 0;
}
