// An access log written by the first version of the program opens in every later one, brought
// to the current version with its rows as they were, none of them left to publish.

#include "support/LogSupport.h"

#include "log/Schema.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

TEST(AccessLogFixture, AFirstVersionLogOpensWithItsRowsIntact)
{
    QTemporaryDir Dir;
    const QString Path = Dir.filePath(QStringLiteral("access.db"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(DORVIK_FIXTURES "/access-v1.db"), Path));
    ASSERT_TRUE(QFile::setPermissions(Path, QFile::ReadOwner | QFile::WriteOwner));

    TAccessLog Log(Path);
    ASSERT_EQ(Log.Error(), QString());
    EXPECT_EQ(FileSchemaVersion(Log.Database()), SchemaVersion());
    const std::vector<TSwipeRecord> Rows = Log.Query({.Limit = 0});
    ASSERT_EQ(Rows.size(), 4u);
    EXPECT_EQ(SwipeIds(Rows), (std::vector<qint64>{4, 3, 2, 1}));
    const TSwipeRecord& First = Rows[3];
    EXPECT_EQ(First.Time, QDateTime::fromString(QStringLiteral("2024-05-01T08:00:00.250Z"), Qt::ISODateWithMs));
    EXPECT_EQ(First.Door, "ttyUSB0");
    EXPECT_EQ(First.Bytes, (std::array<uint8_t, 5>{0x01, 0x00, 0x12, 0xD6, 0x87}));
    EXPECT_EQ(First.CardNumber, "0001234567 018,54919");
    EXPECT_EQ(First.Name, QString::fromUtf8("José Smith"));
    EXPECT_TRUE(First.Known);
    EXPECT_EQ(Rows[2].Name, QString());
    EXPECT_FALSE(Rows[2].Known);
    EXPECT_EQ(SwipeIds(Log.Query({.Card = QStringLiteral("5"), .NameText = QString::fromUtf8("zoë")})),
              (std::vector<qint64>{3}));

    // Rows written now go on after the old ones.
    TSwipeRecord Next = TestSwipe(QDateTime::currentDateTimeUtc(), QStringLiteral("front"), 5, QStringLiteral("Zoe"));
    ASSERT_TRUE(Log.Commit(Next)) << Log.Error().toStdString();
    EXPECT_EQ(Next.Id, 5);

    // The old rows count as sent to the message bus; new ones wait, oldest first, until marked.
    TSwipeRecord Later = Next;
    ASSERT_TRUE(Log.Commit(Later));
    EXPECT_EQ(SwipeIds(Log.Unpublished(10)), (std::vector<qint64>{5, 6}));
    EXPECT_EQ(SwipeIds(Log.Unpublished(10, 5)), (std::vector<qint64>{6}));
    Log.MarkPublished({5});
    Log.Close(); // the writer's last try commits the mark
    EXPECT_EQ(SwipeIds(Log.Unpublished(10)), (std::vector<qint64>{6}));
}

} // namespace
