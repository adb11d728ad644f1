// Who a door admits at an instant, why it refuses a card, and when its list changes next, in
// Europe/Berlin and America/New_York across both daylight-saving changes, past midnight, at the
// end of an until day and on leap days. The sweep that plans a stretch of time must find the same
// next change as the question asked at the instant.

#include "support/AccessSupport.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

struct TTimeCase
{
    const char* Zone;
    const char* Schedule; // the keys of [schedule s]
    const char* Card;     // from,until,cell of Bo's row at door d
    const char* At;
    const char* Refusal;  // why d refuses Bo at At; empty: d admits him
    const char* Next;     // d's next boundary after At, in UTC; empty: none
};

const TTimeCase TimeCases[] = {
    // Berlin, 2026-03-29: 02:00 CET becomes 03:00 CEST (01:00Z); 02:30 comes when the clock jumps.
    {"Europe/Berlin", "sun = 02:30-04:00", ",,s", "2026-03-29T00:30:00Z", "outside hours (s)", "2026-03-29T01:00:00Z"},
    {"Europe/Berlin", "sun = 02:30-04:00", ",,s", "2026-03-29T01:30:00Z", "", "2026-03-29T02:00:00Z"},
    // Berlin, 2026-10-25: 03:00 CEST becomes 02:00 CET (01:00Z); a time in the repeated hour
    // comes at its first showing, and a period that ended there does not start again.
    {"Europe/Berlin", "sun = 02:30-05:00", ",,s", "2026-10-25T00:00:00Z", "outside hours (s)", "2026-10-25T00:30:00Z"},
    {"Europe/Berlin", "sun = 02:30-05:00", ",,s", "2026-10-25T01:45:00Z", "", "2026-10-25T04:00:00Z"},
    {"Europe/Berlin", "sun = 01:00-02:30", ",,s", "2026-10-25T01:15:00Z", "outside hours (s)", "2026-11-01T00:00:00Z"},
    {"Europe/Berlin", "sat = 22:00-06:00", ",,s", "2026-10-25T04:30:00Z", "", "2026-10-25T05:00:00Z"},
    // Past midnight: Friday's night runs into Saturday, and Saturday has none of its own.
    {"Europe/Berlin", "fri = 22:00-06:00", ",,s", "2026-05-02T03:59:00Z", "", "2026-05-02T04:00:00Z"},
    {"Europe/Berlin", "fri = 22:00-06:00", ",,s", "2026-05-02T20:30:00Z", "outside hours (s)", "2026-05-08T20:00:00Z"},
    {"Europe/Berlin", "sat = 22:00-06:00", ",2026-05-02,s", "2026-05-02T21:00:00Z", "", "2026-05-02T22:00:00Z"},
    // A range of days that wraps past Sunday: Friday to Monday, not Tuesday to Thursday.
    {"Europe/Berlin", "fri-mon = 10:00-11:00", ",,s", "2026-05-04T09:30:00Z", "outside hours (s)", "2026-05-08T08:00:00Z"},
    // An until day lasts through its end; a from day starts at its beginning; leap days are days.
    {"Europe/Berlin", "", ",2026-12-31,yes", "2026-12-31T22:59:59Z", "", "2026-12-31T23:00:00Z"},
    {"Europe/Berlin", "", ",2026-12-31,yes", "2026-12-31T23:00:00Z", "expired 2026-12-31", ""},
    {"Europe/Berlin", "", ",2028-02-29,yes", "2028-02-29T12:00:00Z", "", "2028-02-29T23:00:00Z"},
    {"Europe/Berlin", "", "2028-02-29,,yes", "2028-02-28T22:59:00Z", "not yet valid (from 2028-02-29)", "2028-02-28T23:00:00Z"},
    {"Europe/Berlin", "", ",2026-11-30 18:00,yes", "2026-11-30T17:00:00Z", "expired 2026-11-30 18:00", ""},
    // A from inside an open period starts at once; one while closed waits for the next opening.
    {"Europe/Berlin", "tue = 18:00-20:00", "2026-06-02T19:00,,s", "2026-06-02T16:30:00Z", "not yet valid (from 2026-06-02 19:00)", "2026-06-02T17:00:00Z"},
    {"Europe/Berlin", "tue = 18:00-20:00", "2026-06-03,,s", "2026-06-01T00:00:00Z", "not yet valid (from 2026-06-03)", "2026-06-09T16:00:00Z"},
    {"Europe/Berlin", "", ",,no", "2026-06-01T00:00:00Z", "not for this door", ""},
    // New York, 2026-03-08: 02:00 EST becomes 03:00 EDT (07:00Z).
    {"America/New_York", "sun = 02:30-03:30", ",,s", "2026-03-08T06:59:00Z", "outside hours (s)", "2026-03-08T07:00:00Z"},
    {"America/New_York", "sun = 02:30-03:30", ",,s", "2026-03-08T07:10:00Z", "", "2026-03-08T07:30:00Z"},
    // New York, 2026-11-01: 02:00 EDT becomes 01:00 EST (06:00Z); the day has 25 hours.
    {"America/New_York", "sat = 23:00-01:30", ",,s", "2026-11-01T05:00:00Z", "", "2026-11-01T05:30:00Z"},
    {"America/New_York", "sat = 23:00-01:30", ",,s", "2026-11-01T06:15:00Z", "outside hours (s)", "2026-11-08T04:00:00Z"},
    {"America/New_York", "", ",2026-11-01,yes", "2026-11-02T04:59:59Z", "", "2026-11-02T05:00:00Z"},
};

TEST(AccessTime, AdmitsRefusesAndChangesAsTheSiteClockShows)
{
    for (const TTimeCase& Case : TimeCases) {
        SCOPED_TRACE(QStringLiteral("%1 [%2] %3 at %4").arg(Case.Zone, Case.Schedule, Case.Card, Case.At).toStdString());
        const QString Config = QStringLiteral("[site]\ntime-zone = %1\n").arg(Case.Zone) +
                               (*Case.Schedule ? QStringLiteral("[schedule s]\n%1\n").arg(Case.Schedule) : QString());
        const TAccessBed Bed = MakeAccess(QStringLiteral("card,name,master,from,until,d\n1,Ann,yes,,,\n5,Bo,,%1\n").arg(Case.Card), Config);
        ASSERT_TRUE(Bed.Read.Problems.empty()) << Bed.Read.Problems.front().Text.toStdString();
        const TAccessRules& Rules = *Bed.Rules;
        const QDateTime At = Instant(Case.At);
        const bool Admitted = !*Case.Refusal;

        EXPECT_EQ(Rules.Refusal("d", 5, At), QString::fromUtf8(Case.Refusal));
        EXPECT_EQ(Rules.ListAt("d", At), (TDoorList{Admitted ? std::vector<int>{0, 1} : std::vector<int>{0}}));
        EXPECT_EQ(IsoUtc(Rules.NextBoundary("d", At)), QString::fromLatin1(Case.Next));

        // The sweep's first change after At is the same boundary, and it does change the list.
        std::vector<TListChange> Changes;
        const QDateTime Horizon = *Case.Next ? Instant(Case.Next).addSecs(1) : At.addDays(400);
        Rules.ForEachChange("d", At, Horizon, [&](const TListChange& Change) { Changes.push_back(Change); });
        EXPECT_EQ(IsoUtc(Changes.empty() ? std::nullopt : std::optional(Changes.front().At)), QString::fromLatin1(Case.Next));
        if (!Changes.empty()) {
            EXPECT_EQ(Changes.front().Added.size() + Changes.front().Removed.size(), 1u);
        }
    }
}

} // namespace
