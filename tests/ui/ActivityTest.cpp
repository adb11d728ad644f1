// Every swipe the main window sees goes to the access log before anything else, and Ctrl+L shows
// the log: newest first, searched by card or name, exported as dorvik-cli writes it; a log that
// cannot be written is said once and keeps no one from managing the cards.

#include "log/AccessLog.h"
#include "log/SwipeCsv.h"
#include "support/LogSupport.h"
#include "support/MainFormDriver.h"
#include "support/ModalHelper.h"
#include "ui/ActivityFrm.h"
#include "ui/ActivityModel.h"

#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

using namespace std::chrono_literals;

namespace {

class Activity : public MainFormDriver
{
protected:
    QWidget* Window = nullptr;

    QAbstractItemModel* Shown() { return Window->findChild<QTreeView*>("lstActivity")->model(); }
    QStringList ActivityColumn(int Column)
    {
        QStringList Texts;
        for (int Row = 0; Row < Shown()->rowCount(); ++Row)
            Texts << Shown()->index(Row, Column).data().toString();
        return Texts;
    }
    QString Top(int Column) { return Shown()->index(0, Column).data().toString(); }
};

QString Number(uint32_t Value)
{
    TRfidTag T;
    T.Bytes = Card(Value);
    return T.CardNumber();
}

TEST(ActivityModel, PagesThroughTheWholeLogOnceNewestFirst)
{
    QTemporaryDir Dir;
    TAccessLog Log(Dir.filePath("access.db"));
    QSqlQuery(Log.Database()).exec("PRAGMA synchronous = OFF"); // for speed alone
    const QDateTime Start = QDateTime::currentDateTimeUtc();
    for (int I = 0; I < 600; ++I) {
        // Three swipes in each millisecond: a page may end inside one.
        TSwipeRecord Swipe = TestSwipe(Start.addMSecs(I / 3), "door", uint32_t(I));
        ASSERT_TRUE(Log.Commit(Swipe)) << Log.Error().toStdString();
    }
    TActivityModel Model(nullptr);
    Model.SetLog(&Log);
    EXPECT_EQ(Model.rowCount(), TActivityModel::PageSize);
    // A page that cannot be read now is said, and read at the next scroll.
    QSqlQuery(Log.Database()).exec("ALTER TABLE Names RENAME TO Away");
    Model.fetchMore({});
    EXPECT_FALSE(Model.ReadError().isEmpty());
    EXPECT_TRUE(Model.canFetchMore({}));
    QSqlQuery(Log.Database()).exec("ALTER TABLE Away RENAME TO Names");
    while (Model.canFetchMore({}))
        Model.fetchMore({});
    QStringList Shown, Logged;
    for (int Row = 0; Row < Model.rowCount(); ++Row)
        Shown << Model.CellText(Row, TActivityModel::colCardNumber);
    for (const TSwipeRecord& Swipe : Log.Query({.Limit = 0}))
        Logged << Swipe.CardNumber;
    EXPECT_EQ(Shown.size(), 600);
    EXPECT_EQ(Shown, Logged);
    EXPECT_EQ(Model.ReadError(), QString());
}

// Through an agent's door the agent writes the row, a moment after the window saw the swipe.
TEST(ActivityModel, ARowAnotherProgramWritesAfterTheSwipeComesUpWhenItIsThere)
{
    QTemporaryDir Dir;
    TAccessLog Shown(Dir.filePath("access.db"));
    TActivityForm Form(nullptr);
    Form.SetLog(&Shown);
    Form.show();
    Form.AwaitNewer();
    QTimer::singleShot(400ms, [&] {
        TAccessLog Agents(Dir.filePath("access.db"));
        TSwipeRecord Swipe = TestSwipe(QDateTime::currentDateTimeUtc(), "front", 9, "Nine");
        Agents.Commit(Swipe);
    });
    auto* List = Form.findChild<QTreeView*>("lstActivity");
    EXPECT_TRUE(WaitUntil([&] { return List->model()->rowCount() == 1; }, 3000ms));
}

TEST_F(Activity, ASwipeIsLoggedFirstShownAtTheTopSearchedAndExported)
{
    Connect();
    AddCards(3);
    Window = OpenActivity();
    ASSERT_NE(Window, nullptr);
    EXPECT_TRUE(Window->isVisible());
    EXPECT_EQ(Window->windowTitle(), "Activity");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    TAccessLog Log(TAccessLog::DefaultPath());

    const struct
    {
        uint32_t Value;
        const char* Name;
    } Swipes[] = {{2, "Card 2"}, {777, ""}, {3, "Card 3"}, {2, "Card 2"}};
    int Logged = 0;
    for (const auto& S : Swipes) {
        SCOPED_TRACE(S.Value);
        // An unlisted card is offered; its swipe goes into the log while the offer is open.
        std::vector<TSwipeRecord> SeenFromDialog;
        TModalScript Offer{[&](QWidget* Modal) {
            WaitUntil([&] { return (SeenFromDialog = Log.Query({.Limit = 1})).size() == 1 &&
                                   SeenFromDialog[0].CardNumber == Number(S.Value); });
            ClickButton(Modal, "&Ignore");
        }};
        Sim->Swipe(Card(S.Value));
        ASSERT_TRUE(WaitUntil([&] { return Shown()->rowCount() == Logged + 1; }));
        ++Logged;
        const std::vector<TSwipeRecord> Last = Log.Query({.Limit = 1});
        ASSERT_EQ(Last.size(), 1u);
        EXPECT_EQ(Last[0].CardNumber, Number(S.Value));
        EXPECT_EQ(Last[0].Name, S.Name);
        EXPECT_EQ(Last[0].Known, *S.Name != 0);
        EXPECT_EQ(Last[0].Door, Reader().Port());
        EXPECT_EQ(Top(TActivityModel::colCardNumber), Number(S.Value));
        EXPECT_EQ(Top(TActivityModel::colName), S.Name);
        EXPECT_EQ(Top(TActivityModel::colTime), Last[0].Time.toLocalTime().toString("yyyy-MM-dd HH:mm:ss"));
        // A card the list did not hold is marked in words a screen reader reads, and a picture.
        EXPECT_EQ(Top(TActivityModel::colResult), *S.Name ? "" : "refused");
        EXPECT_EQ(Shown()->index(0, TActivityModel::colResult).data(Qt::AccessibleTextRole).toString(), *S.Name ? "" : "refused");
        EXPECT_EQ(Shown()->index(0, TActivityModel::colResult).data(Qt::DecorationRole).isNull(), *S.Name != 0);
        if (!*S.Name) {
            ASSERT_TRUE(WaitUntil([&] { return Offer.Done() && !QApplication::activeModalWidget(); }));
            ASSERT_EQ(SeenFromDialog.size(), 1u);
            EXPECT_EQ(SeenFromDialog[0].Id, Last[0].Id);
        }
    }

    const struct
    {
        QString Typed;
        QStringList Names; // of the rows shown, newest first
    } Searches[] = {
        {"card 2", {"Card 2", "Card 2"}},
        {"ARD", {"Card 2", "Card 3", "Card 2"}},
        {Number(3), {"Card 3"}},
        {"0x309", {""}}, // 777
        {"", {"Card 2", "Card 3", "", "Card 2"}},
    };
    auto* Search = Window->findChild<QLineEdit*>("txtSearch");
    for (const auto& S : Searches) {
        SCOPED_TRACE(S.Typed.toStdString());
        Search->clear();
        QTest::keyClicks(Search, S.Typed);
        EXPECT_TRUE(WaitUntil([&] { return ActivityColumn(TActivityModel::colName) == S.Names; }))
            << ActivityColumn(TActivityModel::colName).join('|').toStdString();
    }

    // Export writes what the search picks, in the command-line tool's columns.
    QTest::keyClicks(Search, "card");
    ASSERT_TRUE(WaitUntil([&] { return Shown()->rowCount() == 3; }));
    QTemporaryDir Dir;
    const QString File = Dir.filePath("swipes.csv");
    TModalScript Save{PickFile(File)};
    QTest::mouseClick(Window->findChild<QPushButton*>("btnExport"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return Save.Done() && QFile::exists(File); }));
    QString Expected = SwipeCsvHeader();
    for (const TSwipeRecord& Swipe : Log.Query({.NameText = "card", .Limit = 0}))
        Expected += SwipeCsvLine(Swipe);
    QFile Written(File);
    ASSERT_TRUE(Written.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(Written.readAll()), Expected);
    EXPECT_EQ(Expected.count("\r\n"), 4);

    QTest::keyClick(Search, Qt::Key_Escape);
    EXPECT_FALSE(Window->isVisible());
}

TEST_F(Activity, ALogThatCannotBeWrittenIsSaidOnceAndTheCardsAreStillManaged)
{
    // The log's folder is a file: no one, root included, can make the log there.
    QTemporaryDir State;
    QFile Blocker(State.filePath("dorvik"));
    ASSERT_TRUE(Blocker.open(QIODevice::WriteOnly));
    const QByteArray Before = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", QFile::encodeName(State.path()));
    struct TRestore
    {
        QByteArray Value;
        ~TRestore() { qputenv("XDG_STATE_HOME", Value); }
    } Restore{Before};

    Sim->SetCards({Card(1), Card(2)});
    Connect();
    ClickThrough("btnRead", {Box("OK")});
    ASSERT_TRUE(WaitUntil([&] { return MainFormDriver::Rows() == 2; }));
    for (int I = 0; I < 3; ++I) {
        Sim->Swipe(Card(1 + uint32_t(I % 2)));
        Pump(100ms);
    }
    QStringList Notices;
    for (QWidget* W : QApplication::topLevelWidgets())
        if (W->isVisible() && qobject_cast<QMessageBox*>(W))
            Notices << static_cast<QMessageBox*>(W)->text();
    ASSERT_EQ(Notices.size(), 1) << Notices.join('\n').toStdString();
    EXPECT_TRUE(Notices[0].startsWith("The folder of the access log " + State.filePath("dorvik/access.db"))) << Notices[0].toStdString();
    EXPECT_TRUE(Notices[0].endsWith(": swipes are kept in memory until it can be written")) << Notices[0].toStdString();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    Window = OpenActivity();
    ASSERT_NE(Window, nullptr) << Reports.join("\n").toStdString();
    EXPECT_EQ(Window->findChild<QLabel*>("lblStatus")->text(), Notices[0]);
    Window->close();

    AddCards(1, 50);
    ClickThrough("btnWrite", {Box("OK"), Box("OK")});
    EXPECT_EQ(Sim->Cards(), (std::vector{Card(1), Card(2), Card(50)}));

    // Closed, the window says what became of the swipes: here not even a side file can be made.
    QString Said;
    const auto Answer = AnswerNextModal([&](QWidget* Modal) {
        Said = ModalText(Modal);
        ClickButton(Modal, "OK");
    });
    Form->close();
    EXPECT_TRUE(Said.startsWith("3 swipes could not be written to the access log " + State.filePath("dorvik/access.db") +
                                ", nor kept beside it")) << Said.toStdString();
}

} // namespace
