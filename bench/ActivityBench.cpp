// The Activity window over an access log of 1,000,000 swipes: the time from Ctrl+L to the first
// paint of its rows, the first time (the log is opened then) and when opened again; and from a
// name typed in its search to the first paint of what it found. The window reads a page of rows
// at a time, so none of these should depend on the size of the log. The log is made beside this
// program, on the disk its build is on.

#include "bench/BenchTable.h"
#include "log/AccessLog.h"
#include "log/SqlCall.h"
#include "log/SwipeWriter.h"
#include "ui/MainFrm.h"
#include "ui/ProgressFrm.h" // MainFrm.h needs it complete for SetProgressForm
#include "ui/Skin.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int Rows = 1000000;
constexpr int Cards = 2000;
constexpr int Reopenings = 9;
constexpr double GoalMs = 200;

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& What) { BenchFailed("bench_activity", What); }

QString CardName(int Card)
{
    static const char* const First[] = {"Anna", "Ben", "Chloé", "Dmitri", "Eva", "Farid", "Greta", "Hiro"};
    static const char* const Last[] = {"Smith", "Novák", "O'Brien", "García", "Müller", "Kowalski", "Lee"};
    return Card % 10 == 9 ? QString()
                          : QString::fromUtf8("%1 %2 %3").arg(QString::fromUtf8(First[Card % 8]),
                                                              QString::fromUtf8(Last[Card % 7])).arg(Card);
}

void Fill(const QString& Path)
{
    TAccessLog Log(Path, TAccessLog::TUse::Read);
    const QDateTime Start = QDateTime::currentDateTimeUtc().addSecs(-Rows * 30LL);
    try {
        Exec(Log.Database(), QStringLiteral("PRAGMA cache_size = -400000"));
        TTransaction All(Log.Database());
        TSwipeWriter Writer(Log.Database());
        for (int Row = 0; Row < Rows; ++Row) {
            const int Card = int((uint64_t(Row) * 2654435761u) % Cards);
            const uint32_t Value = 1000 + uint32_t(Card) * 7919;
            TRfidTag Tag;
            Tag.Bytes = {0, uint8_t(Value >> 24), uint8_t(Value >> 16), uint8_t(Value >> 8), uint8_t(Value)};
            TSwipeRecord Swipe = MakeSwipeRecord(Tag, QStringLiteral("door-%1").arg(Row % 4), nullptr);
            Swipe.Time = Start.addSecs(Row * 30LL);
            Swipe.Name = CardName(Card);
            Swipe.Known = !Swipe.Name.isEmpty();
            Writer.Write(Swipe);
        }
        All.Commit();
        Exec(Log.Database(), QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    } catch (const ESql& E) {
        Fail(E.what());
    }
}

// Notes the first paint of the Activity list's rows after Arm.
class TPaintWatch : public QObject
{
public:
    bool Painted = true;
    void Arm() { Painted = false; }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override
    {
        if (Event->type() == QEvent::Paint && Watched->parent() &&
            Watched->parent()->objectName() == QLatin1String("lstActivity"))
            Painted = true;
        return false;
    }
};

// Runs Act and then the event loop until the list has painted; the time in ms.
template <typename TAct> double UntilPainted(TPaintWatch& Watch, TAct Act)
{
    const auto Start = Clock::now();
    Watch.Arm();
    Act();
    const QDeadlineTimer GiveUp(10000);
    while (!Watch.Painted && !GiveUp.hasExpired())
        QApplication::processEvents();
    if (!Watch.Painted)
        Fail("the Activity list was never painted");
    return std::chrono::duration<double, std::milli>(Clock::now() - Start).count();
}

double Median(std::vector<double> Values)
{
    std::sort(Values.begin(), Values.end());
    return Values[Values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication Application(argc, argv);
    QTemporaryDir State(QCoreApplication::applicationDirPath() + QStringLiteral("/activity-bench-XXXXXX"));
    if (!State.isValid())
        Fail("cannot make a folder beside the program");
    qputenv("XDG_STATE_HOME", QFile::encodeName(State.path()));
    Fill(TAccessLog::DefaultPath());

    ApplySkin(Application);
    TMainForm Form;
    Form.show();
    QApplication::processEvents();
    TPaintWatch Watch;
    Application.installEventFilter(&Watch);
    QAction* Activity = Form.findChild<QAction*>(QStringLiteral("actActivity"));
    if (!Activity)
        Fail("the main window has no actActivity");

    const double First = UntilPainted(Watch, [&] { Activity->trigger(); });
    auto* Window = Form.findChild<QWidget*>(QStringLiteral("ActivityForm"));
    auto* List = Form.findChild<QTreeView*>(QStringLiteral("lstActivity"));
    if (!Window || !List || List->model()->rowCount() == 0)
        Fail("the Activity window shows no rows");
    std::vector<double> Again;
    for (int I = 0; I < Reopenings; ++I) {
        Window->close();
        QApplication::processEvents();
        Again.push_back(UntilPainted(Watch, [&] { Activity->trigger(); }));
    }
    // From the last key typed: the search waits for the typing to end, which is counted too.
    auto* Search = Window->findChild<QLineEdit*>(QStringLiteral("txtSearch"));
    const double Searched = UntilPainted(Watch, [&] { Search->setText(QStringLiteral("müller")); });
    if (List->model()->rowCount() == 0)
        Fail("the search found no rows");

    const std::string Over = "Activity over " + std::to_string(Rows / 1000000) + ",000,000 rows";
    PrintFigure(Over + ": time to first paint", Fixed(First, 1, "ms"), "< 200 ms", GoalMet(First < GoalMs));
    PrintFigure(Over + ": opened again, median", Fixed(Median(Again), 1, "ms"), "< 200 ms", GoalMet(Median(Again) < GoalMs));
    PrintFigure(Over + ": name search to first paint (150 ms of it typing pause)", Fixed(Searched, 1, "ms"));
    return 0;
}
