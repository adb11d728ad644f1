#include "access/SiteCheck.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace {

void CheckDoorColumns(const TAccessRules& Rules, std::vector<TSiteProblem>& Problems)
{
    QStringList Known;
    for (const TAccessDoor& Door : Rules.Doors())
        Known.append(Door.Id);
    for (const QString& Column : Rules.Site().Doors)
        if (!Known.contains(Column))
            Problems.push_back({Rules.Site().HeaderLine, QStringLiteral("the column %1 names no door that takes its cards from this file (%2)").arg(Column, Known.join(QStringLiteral(", ")))});
}

void CheckSchedules(const TAccessRules& Rules, std::vector<TSiteProblem>& Problems)
{
    const TSiteList& Site = Rules.Site();
    const TAccessSetup& Setup = Rules.Setup();
    const QString Known = QStringList(Setup.Schedules.keys()).join(QStringLiteral(", "));
    for (const TSiteCard& Card : Site.Cards) {
        for (size_t I = 0; I < Card.Cells.size(); ++I) {
            const TDoorCell& Cell = Card.Cells[I];
            if (Cell.Kind != TDoorCell::Scheduled || Setup.Schedules.contains(Cell.Schedule))
                continue;
            const QString Door = Site.Doors[qsizetype(I)];
            if (!Setup.SchedulesKnown)
                Problems.push_back({Card.Line, QStringLiteral("door %1: \"%2\" names a schedule, and schedules are kept in the agent's "
                                                              "configuration, which was not given")
                                                   .arg(Door, Cell.Schedule)});
            else
                Problems.push_back({Card.Line, QStringLiteral("door %1: no schedule \"%2\" in the configuration%3")
                                                   .arg(Door, Cell.Schedule, Known.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(Known))});
        }
    }
}

void CheckCounts(const TAccessRules& Rules, int CardLimit, const QDateTime& Now, std::vector<TSiteProblem>& Problems)
{
    const QDateTime YearOn = Now.addYears(1);
    for (const TAccessDoor& Door : Rules.Doors()) {
        int Count = int(Rules.ListAt(Door.Id, Now).Cards.size());
        std::optional<std::pair<QDateTime, int>> Over;
        if (Count > CardLimit)
            Over.emplace(Now, Count);
        Rules.ForEachChange(Door.Id, Now, YearOn, [&](const TListChange& Change) {
            Count += int(Change.Added.size()) - int(Change.Removed.size());
            if (Count > CardLimit && !Over)
                Over.emplace(Change.At, Count);
        });
        if (Over)
            Problems.push_back({Rules.Site().HeaderLine, QStringLiteral("door %1 would hold %2 cards at %3, more than a reader holds (%4)")
                                                             .arg(Door.Id)
                                                             .arg(Over->second)
                                                             .arg(Over->first.toTimeZone(Rules.Setup().Zone).toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                                                             .arg(CardLimit)});
    }
}

} // namespace

std::vector<TSiteProblem> CheckSite(const TSiteRead& Read, const TAccessRules& Rules, int CardLimit, const QDateTime& Now)
{
    std::vector<TSiteProblem> Problems = Read.Problems;
    CheckDoorColumns(Rules, Problems);
    CheckSchedules(Rules, Problems);
    CheckCounts(Rules, CardLimit, Now, Problems);
    std::stable_sort(Problems.begin(), Problems.end(), [](const TSiteProblem& A, const TSiteProblem& B) { return A.Line < B.Line; });
    return Problems;
}
