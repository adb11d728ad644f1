#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

// A bench program reports each figure for the common table on a line of its own:
//
//   @figure<TAB>what was measured<TAB>the figure<TAB>the goal<TAB>met | MISSED | (empty)
//
// scripts/bench gathers these lines from every program into one table; anything else a program
// prints is detail for a reader of its own output.
enum class TGoal { None, Met, Missed };

inline void PrintFigure(const std::string& What, const std::string& Figure,
                        const std::string& Goal = {}, TGoal Verdict = TGoal::None)
{
    const char* Word = Verdict == TGoal::Met ? "met" : Verdict == TGoal::Missed ? "MISSED" : "";
    std::printf("@figure\t%s\t%s\t%s\t%s\n", What.c_str(), Figure.c_str(), Goal.c_str(), Word);
    std::fflush(stdout);
}

inline TGoal GoalMet(bool Met) { return Met ? TGoal::Met : TGoal::Missed; }

inline std::string Fixed(double Value, int Decimals, const char* Unit)
{
    char Text[64];
    std::snprintf(Text, sizeof Text, "%.*f %s", Decimals, Value, Unit);
    return Text;
}

// Ends a bench program that cannot measure, saying why on stderr.
[[noreturn]] inline void BenchFailed(const char* Program, const std::string& What)
{
    std::fprintf(stderr, "%s: %s\n", Program, What.c_str());
    std::exit(1);
}
