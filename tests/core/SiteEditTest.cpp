// A site list written back as CSV reads as the same list; the page's edits change only their row,
// are refused with the check's words leaving the file as it was, and replace the file whole
// with its mode and group.

#include "support/AccessSupport.h"
#include "support/QtPrinters.h"

#include "access/SiteEdit.h"
#include "common/TextFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Everything of a list the rules read, a card a line.
QString Listing(const TSiteList& Site)
{
    QString Text = Site.Doors.join(u',') + QStringLiteral(" master %1\n").arg(Site.Master);
    for (const TSiteCard& Card : Site.Cards) {
        QStringList Fields{QString::number(Card.Tag.CardValue()), QString::fromLatin1(Card.Tag.Name.toHex()),
                           Card.From ? Card.From->Text() : QString(), Card.Until ? Card.Until->Text() : QString()};
        for (const TDoorCell& Cell : Card.Cells)
            Fields.append(DoorCellText(Cell));
        Text += Fields.join(u'|') + u'\n';
    }
    return Text;
}

struct TRoundTrip
{
    const char* Csv;
    const char* Written; // a part of the text written
};

const TRoundTrip RoundTrips[] = {
    {"card,name,master,from,until,front,office\r\n1,Ann,yes,,,,\r\n2,\"=HYPERLINK(\"\"http://x\"\")\",,2026-01-05,2026-12-31 18:00,cleaners,yes\r\n",
     "\r\n2,\"'=HYPERLINK(\"\"http://x\"\")\",,2026-01-05,2026-12-31 18:00,cleaners,yes\r\n"},
    {"card,name,master\n5,Bo,\n6,''+1 Cy,\n7,\"Dee, \"\"jr\"\"\",yes\n8,@sum,\n", "\r\n6,''+1 Cy,,,\r\n7,\"Dee, \"\"jr\"\"\",yes,,\r\n8,'@sum,,,\r\n"},
    {"card,name,master,until,front\n\n1,Ann,,,\n2,Zoë,,2026-12-31T18:00,Yes\n", "\r\n1,Ann,,,,\r\n2,Zoë,,,2026-12-31 18:00,yes\r\n"},
};

TEST(SiteEditTest, ASiteListWrittenBackReadsAsTheSameList)
{
    for (const TRoundTrip& Case : RoundTrips) {
        SCOPED_TRACE(Case.Csv);
        const TSiteRead First = ReadSiteCsv(QStringLiteral("site.csv"), QString::fromUtf8(Case.Csv));
        ASSERT_EQ(First.Problems.size(), 0u);
        const QString Written = SiteCsvText(First.Site);
        const TSiteRead Again = ReadSiteCsv(QStringLiteral("site.csv"), Written);
        EXPECT_EQ(Again.Problems.size(), 0u);
        EXPECT_EQ(Listing(Again.Site), Listing(First.Site));
        EXPECT_EQ(SiteCsvText(Again.Site), Written);
        EXPECT_TRUE(Written.contains(QString::fromUtf8(Case.Written))) << Written.toStdString();
    }
}

using TEdit = std::function<void(const TSiteList&, TSiteRows&)>;

TEdit Add(TPersonFields Person)
{
    return [Person](const TSiteList& Site, TSiteRows& Rows) { AddPerson(Site, Rows, Person); };
}

const QString Config = QStringLiteral("[front]\nport = p1\n[office]\nport = p2\n[schedule cleaners]\ntue = 18:00-20:00\n");
const char Base[] = "card,name,master,from,until,front,office\r\n1,Ann,yes,,,,\r\n2,Bo,,,,yes,cleaners\r\n"
                    "3,Cy,,2026-06-01,,yes,\r\n4,Di,,,2026-04-30,yes,\r\n";
const TLocalMoment Now{QDate(2026, 5, 1), QTime(9, 12)};

struct TEditCase
{
    const char* Before; // none: no file yet
    TEdit Edit;
    uint32_t Card;       // the row of Base it changes; every other one stays as it was
    const char* After;   // the row it writes (Base), or the whole file; none: refused
    const char* Refusal; // a part of why
};

const TEditCase EditCases[] = {
    {Base, Add({"5", "=cmd|' /C calc'!A0", "2026-07-01T08:00", {}, {{"front", "Yes"}}}), 0, "5,'=cmd|' /C calc'!A0,,2026-07-01 08:00,,yes,\r\n", nullptr},
    {Base, [](auto& S, auto& R) { ChangePerson(S, R, 2, {{}, {}, {}, "2026-12-31", {{"office", "no"}}}); }, 2, "2,Bo,,,2026-12-31,yes,\r\n", nullptr},
    {Base, [](auto& S, auto& R) { LapsePerson(S, R, 2, Now); }, 2, "2,Bo,,,2026-05-01 09:12,yes,cleaners\r\n", nullptr},
    {Base, [](auto& S, auto& R) { LapsePerson(S, R, 3, Now); }, 3, "3,Cy,,,2026-05-01 09:12,yes,\r\n", nullptr},
    {Base, [](auto& S, auto& R) { RemovePerson(S, R, 3); }, 3, "", nullptr},
    {"card,name,master\r\n1,Ann,yes\r\n2,Bo,\r\n", Add({"3", {}, {}, {}, {{"front", "yes"}}}), 0,
     "card,name,master,from,until,front,office\r\n1,Ann,yes,,,,\r\n2,Bo,,,,yes,yes\r\n3,,,,,yes,\r\n", nullptr},
    {nullptr, Add({"7", "Ann", {}, {}, {}, true}), 0, "card,name,master,from,until,front,office\r\n7,Ann,yes,,,,\r\n", nullptr},
    {nullptr, Add({"7", "Ann"}), 0, nullptr, "add the master card first"},
    {Base, Add({"5", {}, {}, {}, {{"front", "=1+1"}}}), 0, nullptr, "door front: \"'=1+1\" is not yes, no or a schedule's name"},
    {Base, Add({"5", "Ed\r\nFay"}), 0, nullptr, "a name is one line of text"},
    {Base, [](auto& S, auto& R) { LapsePerson(S, R, 1, Now); }, 0, nullptr, "the master card opens every door at all times"},
    {Base, [](auto& S, auto& R) { LapsePerson(S, R, 4, Now); }, 0, nullptr, "already ended (until 2026-04-30)"},
    {"card,name,master\r\n1,Ann,yes\r\nx,Bad,\r\n", Add({"5"}), 0, nullptr, "has problems of its own"},
};

TEST(SiteEditTest, AnEditChangesItsRowOnlyAndARefusedOneNothing)
{
    const TAccessSetup Setup = MakeSetup(Config);
    const QDateTime At = QDateTime(Now.Date, QTime(9, 12, 30), Qt::UTC);
    const QStringList BaseRows = QString::fromLatin1(Base).split(QStringLiteral("\r\n"));
    for (const TEditCase& Case : EditCases) {
        SCOPED_TRACE(testing::Message() << "case " << (&Case - EditCases));
        QTemporaryDir Folder;
        const QString File = Folder.filePath(QStringLiteral("site.csv"));
        const QString Before = QString::fromUtf8(Case.Before);
        if (Case.Before)
            SaveUtf8File(File, Before);
        try {
            const TSiteList Written = EditSiteFile(File, Setup, 250, At, Case.Edit);
            ASSERT_TRUE(Case.After) << "not refused";
            EXPECT_EQ(Listing(Written), Listing(ReadSiteFile(File).Site)); // what it says it wrote
        } catch (const std::exception& E) {
            ASSERT_TRUE(Case.Refusal) << E.what();
            EXPECT_TRUE(QString::fromUtf8(E.what()).contains(QString::fromUtf8(Case.Refusal))) << E.what();
            EXPECT_EQ(QFileInfo::exists(File) ? ReadUtf8File(File) : QString(), Before);
            EXPECT_EQ(QDir(Folder.path()).entryList(QDir::Files | QDir::Hidden).size(), Case.Before ? 1 : 0);
            continue;
        }
        const QString After = ReadUtf8File(File);
        if (Case.Before != Base) {
            EXPECT_EQ(After, QString::fromUtf8(Case.After));
            continue;
        }
        QStringList Kept = BaseRows, Left;
        Kept.removeIf([&](const QString& Row) { return Row.startsWith(QStringLiteral("%1,").arg(Case.Card)); });
        for (const QString& Row : After.split(QStringLiteral("\r\n")))
            if (BaseRows.contains(Row))
                Left.append(Row);
        EXPECT_EQ(Left, Kept); // in their order
        EXPECT_TRUE(After.contains(QString::fromUtf8(Case.After))) << After.toStdString();
    }
}

TEST(SiteEditTest, TheFileIsReplacedWholeWithItsModeAndGroup)
{
    QTemporaryDir Folder;
    const QString File = Folder.filePath(QStringLiteral("site.csv"));
    const QByteArray Path = QFile::encodeName(File);
    const TAccessSetup Setup = MakeSetup(Config);
    const QDateTime At = QDateTime(Now.Date, QTime(9, 12), Qt::UTC);
    EditSiteFile(File, Setup, 250, At, Add({"1", "Ann", {}, {}, {}, true}));
    struct stat Made {};
    ASSERT_EQ(::stat(Path.constData(), &Made), 0);
    EXPECT_EQ(Made.st_mode & 07777, 0640u); // a new file: for the group, not for everyone

    ASSERT_EQ(::chmod(Path.constData(), 0604), 0);
    const gid_t Group = ::geteuid() == 0 ? 4242 : Made.st_gid; // only root gives a file any group
    ASSERT_EQ(::chown(Path.constData(), uid_t(-1), Group), 0);
    EditSiteFile(File, Setup, 250, At, Add({"2", "Bo", {}, {}, {{"front", "yes"}}}));
    struct stat Then {};
    ASSERT_EQ(::stat(Path.constData(), &Then), 0);
    EXPECT_EQ(Then.st_mode & 07777, 0604u);
    EXPECT_EQ(Then.st_gid, Group);
    EXPECT_NE(Then.st_ino, Made.st_ino); // a new file took the old one's place
}

} // namespace
