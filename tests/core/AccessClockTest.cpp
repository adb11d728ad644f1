// The doors' lists kept in time as the agent keeps them: one alarm at the next boundary, the
// journal's line for each change, nothing in between, and at once when the wall clock is set.
// And the system's clock behind the same seam: its alarm comes when the wall clock reaches it.

#include "support/AccessSupport.h"
#include "support/FakeClock.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include "access/BoundaryAlarm.h"
#include "access/SystemClock.h"
#include "common/Errors.h"

#include <gtest/gtest.h>

namespace {

struct TAlarmStep
{
    const char* To;      // the fake clock runs to this (UTC)
    bool SetWallClock;   // or is set to it
    const char* Journal; // what the journal says then; empty: nothing happens
    const char* Next;    // the alarm armed afterwards
};

TEST(AccessClock, KeepsEachDoorsListAtItsBoundariesAndWhenTheClockIsSet)
{
    const TAccessBed Bed = MakeAccess(QStringLiteral("card,name,master,from,until,front\n1,Ann,yes,,,\n2,Dana,,,,cleaners\n"
                                                     "3,Evan,,,2026-12-29 18:00,yes\n4,Fred,,2027-01-05,,yes\n"),
                                      "[front]\nname = Front door\nport = p1\n[site]\ntime-zone = Europe/Berlin\n"
                                      "[schedule cleaners]\ntue = 18:00-20:00\n");
    const TAccessRules& Rules = *Bed.Rules;
    TFakeClock Clock(Instant("2026-12-29T11:00:00Z"), "Europe/Berlin");
    TBoundaryAlarm Alarm(Clock);
    TDoorList Held = Rules.ListAt("front", Clock.NowUtc());
    QStringList Journal;
    Alarm.OnDue = [&](bool ClockSet) {
        const TDoorList Now = Rules.ListAt("front", Clock.NowUtc());
        Journal.append(Rules.ChangeText("front", Held, Now, Clock.NowUtc()) + (ClockSet ? " (clock set)" : ""));
        Held = Now;
        Alarm.Arm({&Rules});
    };
    Alarm.Arm({&Rules});
    EXPECT_EQ(IsoUtc(Clock.Alarm()), "2026-12-29T17:00:00Z");

    const TAlarmStep Steps[] = {
        {"2026-12-29T16:59:59Z", false, "", "2026-12-29T17:00:00Z"},
        {"2026-12-29T17:00:00Z", false, "Front door: 18:00: +Dana (cleaners), -Evan (until 2026-12-29 18:00)", "2026-12-29T19:00:00Z"},
        {"2026-12-29T19:00:00Z", false, "Front door: 20:00: -Dana (cleaners)", "2027-01-04T23:00:00Z"},
        {"2027-01-05T18:00:00Z", true, "Front door: 19:00: +Dana (cleaners), +Fred (from 2027-01-05) (clock set)", "2027-01-05T19:00:00Z"},
    };
    for (const TAlarmStep& Step : Steps) {
        SCOPED_TRACE(Step.To);
        Journal.clear();
        if (Step.SetWallClock)
            Clock.SetWallClock(Instant(Step.To));
        else
            Clock.RunTo(Instant(Step.To));
        EXPECT_EQ(Journal, *Step.Journal ? QStringList{QString::fromUtf8(Step.Journal)} : QStringList{});
        EXPECT_EQ(IsoUtc(Clock.Alarm()), Step.Next);
        EXPECT_EQ(IsoUtc(Alarm.Next()), Step.Next);
    }
}

TEST(AccessClock, SystemClockWakesWhenTheWallClockReachesTheAlarm)
{
    EXPECT_THROW(TSystemClock(QByteArray("Mars/Olympus"), nullptr), Exception);
    TSystemClock Clock(QByteArray("America/New_York"), nullptr);
    EXPECT_EQ(Clock.Zone().id(), "America/New_York");
    const QDateTime At = Clock.NowUtc().addMSecs(150);
    std::vector<QDateTime> Woken;
    Clock.OnAlarm = [&] { Woken.push_back(Clock.NowUtc()); };
    Clock.SetAlarm(At.addSecs(3600));
    Clock.SetAlarm(At); // in place of the one before
    ASSERT_TRUE(WaitUntil([&] { return !Woken.empty(); }));
    EXPECT_GE(Woken.front(), At);
    Pump(std::chrono::milliseconds(100));
    EXPECT_EQ(Woken.size(), 1u);
}

} // namespace
