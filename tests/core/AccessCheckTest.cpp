// What is wrong with a schedule or a site list, said with the file's line: the configuration's
// [schedule] and [site] sections, every fault of a site list's CSV, and a door that would hold
// more cards than a reader does at some boundary of the coming year.

#include "support/AccessSupport.h"
#include "support/QtPrinters.h"

#include "access/SiteCheck.h"

#include <gtest/gtest.h>

namespace {

const QDateTime Now = Instant("2026-05-01T00:00:00Z"); // a Friday

QString Problems(const QString& Site, const QString& Config)
{
    try {
        const TAccessBed Bed = MakeAccess(Site, Config);
        return ProblemLines(QStringLiteral("site.csv"), CheckSite(Bed.Read, *Bed.Rules, 250, Now));
    } catch (const std::exception& E) {
        return QString::fromUtf8(E.what());
    }
}

struct TProblemCase
{
    const char* Config;
    const char* Site;
    const char* Expected;
};

const char FrontDoor[] = "[front]\nport = p1\n[schedule cleaners]\ntue = 18:00-20:00\n";

const TProblemCase ProblemCases[] = {
    {"[schedule office]\nmon-fry = 08:00-12:00\n", "", "agent.conf:2: [schedule office] mon-fry: not a day: use mon, tue, wed, thu, fri, sat, sun or a range such as mon-fri"},
    {"[schedule office]\nmon = 08:00-12:00, 13:00\n", "", "agent.conf:2: [schedule office] mon: '13:00' is not a period such as 08:00-12:30"},
    {"[schedule office]\n\nsat = 23:00-24:30\n", "", "agent.conf:3: [schedule office] sat: '23:00-24:30' is not a time of day"},
    {"[schedule office]\nsun = 10:00-10:00\n", "", "agent.conf:2: [schedule office] sun: '10:00-10:00' ends when it starts"},
    {"[schedule empty]\n", "", "agent.conf:1: [schedule empty] names no day: add a key such as mon-fri = 08:00-18:00"},
    {"[schedule a b]\n", "", "agent.conf:1: [schedule a b]: a schedule's name takes letters, digits, '-' and '_' only"},
    {"[site]\ntime-zone = Mars/Olympus\n", "", "agent.conf:2: [site] time-zone: this system knows no zone 'Mars/Olympus' (see timedatectl list-timezones)"},
    {FrontDoor, "card,name\n1,Ann\n", "site.csv:1: the first line must be the header card,name,master, then from, until and the doors' ids\n"},
    {FrontDoor, "card,name,master,front,garage,front\n1,Ann,yes,,,\n",
     "site.csv:1: the door front has two columns\nsite.csv:1: the column garage names no door that takes its cards from this file (front)\n"},
    {FrontDoor,
     "card,name,master,from,until,front\n1,Ann,yes,,,\n2,Bo,,2026-02-30,,yes\n3,Cy,,2026-03-02,2026-03-01,yes\n3,Cy again,,,,yes\n"
     "4,Di,yes,,,\n5,Ed,,,,clenaers\n6,Fay,,,,yes please\n0x7,Gus,,,,\n8,Hal,,,,,extra\n9,\"Ivy \"\"the\"\" one, jr.\",maybe,,,\n",
     "site.csv:3: from \"2026-02-30\" is not a day such as 2026-12-31, 2026-12-31 18:00 or 2026-12-31T18:00\n"
     "site.csv:4: until 2026-03-01 is not after from 2026-03-02\n"
     "site.csv:5: card 3 is already on line 4\n"
     "site.csv:6: a second master card (the first is on line 2)\n"
     "site.csv:7: door front: no schedule \"clenaers\" in the configuration (cleaners)\n"
     "site.csv:8: door front: \"yes please\" is not yes, no or a schedule's name\n"
     "site.csv:9: card \"0x7\" is not a number from 0 to 4294967295\n"
     "site.csv:10: 7 fields, and the header has 6\n"
     "site.csv:11: master must be \"yes\" or empty, not \"maybe\"\n"},
    {FrontDoor, "card,name,master,until,front\n1,Ann,yes,2027-01-01,\n",
     "site.csv:2: the master card opens every door at all times: leave its from, until and door cells empty\n"},
    {FrontDoor, "card,name,master,front\n1,Ann,,no\n2,Bo,,yes\n",
     "site.csv:2: no row says master = yes, so this first card is the master, which opens every door at all times: mark the "
     "master card, or leave this card's from, until and door cells empty\n"},
    {FrontDoor, "card,name,master\r\n1,\"Ann,\r\n", "site.csv:2: a quoted field is not closed\n"},
    {FrontDoor, "\xEF\xBB\xBF" "card,name,master,until,front\r\n1,Ann,yes,,\r\n2,\"Bo, \"\"Jr\"\"\",,2026-12-31T18:00,cleaners\r\n", ""},
};

TEST(AccessCheck, NamesEachProblemWithItsLine)
{
    for (const TProblemCase& Case : ProblemCases) {
        SCOPED_TRACE(Case.Site);
        EXPECT_EQ(Problems(QString::fromUtf8(Case.Site), QString::fromUtf8(Case.Config)), QString::fromUtf8(Case.Expected));
    }
}

// 250 cards on two schedules that do not overlap fit a reader; let them overlap for a minute and
// the door holds 251 then, which only the boundaries show.
TEST(AccessCheck, CountsTheCardsAtEveryBoundaryOfTheYear)
{
    QString Site = QStringLiteral("card,name,master,d\n1,Ann,yes,\n");
    for (int C = 0; C < 250; ++C)
        Site += QStringLiteral("%1,,,%2\n").arg(100 + C).arg(C % 2 ? "am" : "pm");
    EXPECT_EQ(Problems(Site, "[schedule am]\nmon-fri = 08:00-12:00\n[schedule pm]\nmon-fri = 12:00-17:00\n"), "");
    EXPECT_EQ(Problems(Site, "[schedule am]\nmon-fri = 08:00-12:01\n[schedule pm]\nmon-fri = 12:00-17:00\n"),
              "site.csv:1: door d would hold 251 cards at 2026-05-01 12:00, more than a reader holds (250)\n");
}

} // namespace
