// Rebuilding the card list view: RefreshCardList followed by one paint of the rows in sight, on
// the main window in its skin (offscreen), with 250 cards and with 100,000. The list is virtual,
// so the time should hardly depend on the number of cards.

#include "bench/BenchTable.h"
#include "cards/NameText.h"
#include "reader/Dorvik.h"
#include "ui/MainFrm.h"
#include "ui/ProgressFrm.h" // MainFrm.h needs it complete for SetProgressForm
#include "ui/Skin.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTreeView>

#include <cstdlib>
#include <map>

namespace {

constexpr int LargeList = 100000;
constexpr double GoalMs = 50;

// Counts the paints of the list's rows, so the figure is known to include one.
class TPaintCounter : public QObject
{
public:
    int Paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* Event) override
    {
        Paints += Event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

void FillCards(TMainForm& Form, int Count)
{
    TRfidTags& Tags = Form.CardReader()->Tags();
    Tags.Clear();
    for (int I = 0; I < Count; ++I) {
        TRfidTag& Tag = Tags.Add();
        const uint32_t Value = 100000 + uint32_t(I) * 7919;
        Tag.Bytes = {0, uint8_t(Value >> 24), uint8_t(Value >> 16), uint8_t(Value >> 8), uint8_t(Value)};
        Tag.Name = TextToName(QStringLiteral("Card %1 – Tür").arg(I + 1));
    }
    Form.CardReader()->SetMaster(1);
}

void ListRebuild(benchmark::State& State, TMainForm& Form)
{
    FillCards(Form, int(State.range(0)));
    QWidget* Rows = Form.findChild<QTreeView*>(QStringLiteral("lstCards"))->viewport();
    TPaintCounter Counter;
    Rows->installEventFilter(&Counter);
    for (auto _ : State) {
        Form.RefreshCardList();
        Rows->repaint();
    }
    Rows->removeEventFilter(&Counter);
    if (Counter.Paints < int(State.iterations()))
        State.SkipWithError("the list was not painted in every round");
}

class TTableReporter : public benchmark::ConsoleReporter
{
public:
    TTableReporter() : ConsoleReporter(OO_Tabular) {} // no colours: figure lines start their lines

    std::map<int, double> Milliseconds;

    void ReportRuns(const std::vector<Run>& Runs) override
    {
        ConsoleReporter::ReportRuns(Runs);
        for (const Run& R : Runs)
            if (!R.error_occurred && R.run_type == Run::RT_Iteration)
                Milliseconds[std::stoi(R.run_name.args)] = R.GetAdjustedRealTime() *
                                                            benchmark::GetTimeUnitMultiplier(benchmark::kMillisecond) /
                                                            benchmark::GetTimeUnitMultiplier(R.time_unit);
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication Application(argc, argv);
    ApplySkin(Application);
    TMainForm Form;
    Form.show();
    QApplication::processEvents();

    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("ListRebuild", [&Form](benchmark::State& State) { ListRebuild(State, Form); })
        ->Arg(250)
        ->Arg(LargeList)
        ->Unit(benchmark::kMillisecond);
    TTableReporter Reporter;
    benchmark::RunSpecifiedBenchmarks(&Reporter);
    benchmark::Shutdown();

    for (const auto& [Cards, Ms] : Reporter.Milliseconds) {
        const std::string What = "list view rebuild and paint, " + std::to_string(Cards) + " cards";
        if (Cards == LargeList)
            PrintFigure(What, Fixed(Ms, 2, "ms"), "< 50 ms", GoalMet(Ms < GoalMs));
        else
            PrintFigure(What, Fixed(Ms, 2, "ms"));
    }
    return Reporter.Milliseconds.size() == 2 ? 0 : 1;
}
