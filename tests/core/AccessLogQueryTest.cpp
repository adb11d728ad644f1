// The access log's queries: each condition, their combinations, newest first, the limit, and
// paging by the last row's key as a window's model pages.

#include "support/LogSupport.h"

#include "log/LogQuery.h"
#include "log/SqlCall.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {

const QDateTime Start = QDateTime::fromString(QStringLiteral("2024-05-01T08:00:00.250Z"), Qt::ISODateWithMs);

QDateTime At(int Minutes) { return Start.addSecs(Minutes * 60); }

struct TQueryCase
{
    const char* What;
    TLogQuery Query;
    std::vector<qint64> Ids; // newest first
};

TEST(AccessLogQuery, EachConditionPicksItsRowsNewestFirst)
{
    QTemporaryDir Dir;
    TAccessLog Log(Dir.filePath(QStringLiteral("sub/access.db")));
    ASSERT_EQ(Log.Error(), QString());

    TRfidTags List;
    TRfidTag& Named = List.Add();
    Named.Bytes = {0x00, 0x00, 0x12, 0xD6, 0x87};
    Named.Name = "Jos\xE9 Smith"; // Windows-1252, as an old card file holds it
    TRfidTag Swiped;
    Swiped.Bytes = {0x01, 0x00, 0x12, 0xD6, 0x87}; // byte 0 differs: still the same card
    TSwipeRecord First = MakeSwipeRecord(Swiped, QStringLiteral("ttyUSB0"), &List);
    First.Time = At(0);
    std::vector<TSwipeRecord> Swipes{First,
                                     TestSwipe(At(1), QStringLiteral("ttyUSB0"), 0xDEADBEEF),
                                     TestSwipe(At(60), QStringLiteral("front"), 5, QString::fromUtf8("ZOË")),
                                     TestSwipe(At(60), QStringLiteral("front"), 1234567, QString::fromUtf8("José Smith")),
                                     TestSwipe(At(1440), QStringLiteral("back"), 7, QStringLiteral("100% _x_"))};
    for (TSwipeRecord& Swipe : Swipes)
        ASSERT_TRUE(Log.Commit(Swipe)) << Log.Error().toStdString();
    EXPECT_EQ(SwipeIds(Swipes), (std::vector<qint64>{1, 2, 3, 4, 5}));

    const std::vector<TSwipeRecord> Back = Log.Query({.Limit = 0});
    ASSERT_EQ(Back.size(), 5u);
    const TSwipeRecord& Oldest = Back.back();
    EXPECT_EQ(Oldest.Time, Start);
    EXPECT_EQ(Oldest.Door, "ttyUSB0");
    EXPECT_EQ(Oldest.Bytes, Swiped.Bytes);
    EXPECT_EQ(Oldest.CardNumber, "0001234567 018,54919");
    EXPECT_EQ(Oldest.Name, QString::fromUtf8("José Smith"));
    EXPECT_TRUE(Oldest.Known);
    EXPECT_FALSE(Back[3].Known);
    EXPECT_EQ(Back[3].Name, QString());

    const TQueryCase Cases[] = {
        {"everything", {}, {5, 4, 3, 2, 1}},
        {"limit", {.Limit = 2}, {5, 4}},
        {"since is inclusive", {.Since = At(60)}, {5, 4, 3}},
        {"until is exclusive", {.Until = At(60)}, {2, 1}},
        {"since and until", {.Since = At(1), .Until = At(1440)}, {4, 3, 2}},
        {"door", {.Door = QStringLiteral("front")}, {4, 3}},
        {"unknown door", {.Door = QStringLiteral("fron")}, {}},
        {"card number text", {.Card = QStringLiteral("0001234567 018,54919")}, {4, 1}},
        {"card value", {.Card = QStringLiteral("1234567")}, {4, 1}},
        {"card in hex", {.Card = QStringLiteral("0xdeadbeef")}, {2}},
        {"card by its two numbers, both long", {.Card = QStringLiteral(" 57005,48879")}, {2}},
        {"card by its two numbers", {.Card = QStringLiteral("000,5")}, {3}},
        {"card that is no number", {.Card = QStringLiteral("nobody")}, {}},
        {"name in another case", {.NameText = QStringLiteral("JOSÉ")}, {4, 1}},
        {"name folded beyond ASCII", {.NameText = QString::fromUtf8("zoë")}, {3}},
        {"wildcards are plain text", {.NameText = QStringLiteral("% _")}, {5}},
        {"wildcards match nothing else", {.NameText = QStringLiteral("_")}, {5}},
        {"name and door", {.Door = QStringLiteral("ttyUSB0"), .NameText = QStringLiteral("smith")}, {1}},
        {"card and time", {.Since = At(30), .Card = QStringLiteral("1234567")}, {4}},
    };
    for (const TQueryCase& Case : Cases) {
        EXPECT_EQ(SwipeIds(Log.Query(Case.Query)), Case.Ids) << Case.What;
        EXPECT_EQ(Log.Error(), QString()) << Case.What;
    }

    // Pages of two, each after the last row of the one before, make up the whole list.
    std::vector<qint64> Paged;
    std::optional<TSwipeKey> After;
    for (int Page = 0; Page < 4; ++Page) {
        QSqlQuery Rows = SelectSwipes(Log.Database(), {.Limit = 2}, After);
        while (Rows.next()) {
            Paged.push_back(SwipeAt(Rows).Id);
            After = SwipeKey(SwipeAt(Rows));
        }
    }
    EXPECT_EQ(Paged, (std::vector<qint64>{5, 4, 3, 2, 1}));
}

} // namespace
