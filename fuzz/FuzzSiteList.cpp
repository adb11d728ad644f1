// Arbitrary bytes as a site list's CSV (an administrator's spreadsheet, or a file the agent's page
// wrote) under a configuration with two schedules. Reading never throws; every problem names a line
// the file has; and the rules made from what was read answer for every door at a few moments: a
// door's list holds only cards of the list, the master among them, and the next boundary comes
// after the moment it was asked from.

#include "access/AccessRules.h"
#include "access/SiteList.h"
#include "fuzz/FuzzCheck.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>

namespace {

TAccessSetup Setup()
{
    TAccessSetup S;
    S.Zone = QTimeZone("Europe/Berlin");
    S.Schedules.insert(QStringLiteral("cleaners"), ParseSchedule(QStringLiteral("cleaners"), 1,
                                                                 {{QStringLiteral("tue"), {QStringLiteral("18:00-20:00"), 2}}}));
    S.Schedules.insert(QStringLiteral("night"), ParseSchedule(QStringLiteral("night"), 3,
                                                              {{QStringLiteral("mon-fri"), {QStringLiteral("22:00-06:00"), 4}}}));
    return S;
}

void CheckDoor(const TAccessRules& Rules, const QString& Door, const QDateTime& At)
{
    const TSiteList& Site = Rules.Site();
    const TDoorList List = Rules.ListAt(Door, At);
    for (int Card : List.Cards)
        if (Card < 0 || Card >= int(Site.Cards.size()))
            Broken("a door's list holds a card the site list does not have");
    if (Site.Master >= 0 && std::find(List.Cards.begin(), List.Cards.end(), Site.Master) == List.Cards.end())
        Broken("the master card is not on a door's list");
    if (const std::optional<QDateTime> Next = Rules.NextBoundary(Door, At); Next && *Next <= At)
        Broken("the next boundary is not after the moment asked from");
    for (const TSiteCard& Card : Site.Cards)
        Rules.Refusal(Door, Card.Tag.CardValue(), At);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    static const TAccessSetup Configured = Setup();
    const QString Text = QString::fromUtf8(reinterpret_cast<const char*>(Data), qsizetype(Size));
    const TSiteRead Read = ReadSiteCsv(QStringLiteral("site.csv"), Text);
    const int Lines = int(Text.count(u'\n') + Text.count(u'\r')) + 2; // a CR alone ends a line too
    for (const TSiteProblem& Problem : Read.Problems)
        if (Problem.Line < 0 || Problem.Line > Lines)
            Broken("a problem at a line the file does not have");
    const TAccessRules Rules(Read.Site, Configured);
    for (const char* At : {"2026-03-29T00:30:00Z", "2026-10-25T00:30:00Z", "2026-12-15T17:30:00Z"})
        for (const TAccessDoor& Door : Rules.Doors())
            CheckDoor(Rules, Door.Id, QDateTime::fromString(QString::fromLatin1(At), Qt::ISODate));
    return 0;
}
