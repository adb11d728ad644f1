// The main window never drops what the user typed behind their back: unsaved changes are marked
// in the title and asked about before closing or loading; Delete leaves nothing picked for the
// next Delete; the save dialog refuses a missing folder; the window has its designed outer size.

#include "cards/CardDatabaseFile.h"
#include "support/MainFormDriver.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>

using namespace std::chrono_literals;

namespace {

constexpr char BaseTitle[] = "Zelvora Projects - Dorvik - Card reader";

class MainFormUnsavedTest : public MainFormDriver
{
protected:
    QTemporaryDir Dir;

    void SelectRow(int Row)
    {
        const QRect Rect = List()->visualRect(Model()->index(Row, 1));
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, Rect.center());
    }
    void Rename(int Row, const QString& Name)
    {
        SelectRow(Row);
        ClickThrough("sBitBtn1", {[Name](QWidget* Dialog) {
            Dialog->findChild<QLineEdit*>("txtName")->setText(Name);
            ClickButton(Dialog, "&OK");
        }});
    }
    bool Marked() { return Form->windowTitle().startsWith('*'); }
};

} // namespace

// Closing with a typed name not saved asks first: Cancel keeps the window, Discard closes, Save
// closes only once the file is written.
TEST_F(MainFormUnsavedTest, ClosingWithUnsavedChangesAsksFirst)
{
    const QString File = Dir.filePath("kept.tdb");
    const struct
    {
        const char* Answer;
        bool Closes;
        bool Written;
    } Cases[] = {{"Cancel", false, false}, {"&Discard", true, false}, {"&Save", true, true}};
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Answer);
        QFile::remove(File);
        Form = std::make_unique<TMainForm>();
        Form->show();
        AddCards(2);
        EXPECT_EQ(Form->windowTitle(), BaseTitle);
        Rename(0, "Front door");
        EXPECT_EQ(Form->windowTitle(), QString("*") + BaseTitle);

        TSeenBox Question;
        std::vector<TModalScript::TAnswer> Answers{Box(Case.Answer, &Question)};
        if (Case.Written) {
            Answers.push_back(PickFile(File));
            Answers.push_back(Box("OK"));
        }
        TModalScript Script{Answers[0], Answers.size() > 1 ? Answers[1] : Box("x"),
                            Answers.size() > 2 ? Answers[2] : Box("x")};
        EXPECT_EQ(Form->close(), Case.Closes);
        EXPECT_EQ(Question.Text, "Save changes to the card database?");
        EXPECT_EQ(Form->isVisible(), !Case.Closes);
        EXPECT_EQ(QFile::exists(File), Case.Written);
        if (Case.Written)
            EXPECT_EQ(LoadCardDatabaseFile(File).Tags.Items(0).Name, "Front door");
    }
}

// What puts the mark on the title and what takes it off: a write keeps names unsaved, since the
// reader does not hold them; a save, a load and a read take it off.
TEST_F(MainFormUnsavedTest, TheTitleMarksWhatIsInNoFile)
{
    Sim->SetCards(Cards(3));
    Connect();
    ClickThrough("btnRead", {Box("OK")});
    ASSERT_TRUE(WaitUntil([&] { return Rows() == 3 && !Reader().TransferActive(); }));
    EXPECT_FALSE(Marked());

    Rename(0, "Front door");
    EXPECT_TRUE(Marked());
    ClickThrough("btnWrite", {Box("OK"), Box("OK")});
    EXPECT_TRUE(Marked()) << "names are in the reader neither";

    const QString File = Dir.filePath("site.tdb");
    ClickThrough("btnSaveToFile", {PickFile(File), Box("OK")});
    EXPECT_EQ(Form->windowTitle(), QString("site.tdb - ") + BaseTitle);

    SelectRow(1);
    ClickThrough("btnDelete", {Box("OK")});
    EXPECT_TRUE(Marked());
    EXPECT_TRUE(List()->selectionModel()->selectedRows().isEmpty()) << "Delete picks no next card";
    Settle();
    EXPECT_FALSE(Action("actDelete")->isEnabled());
    ClickThrough("btnWrite", {Box("OK"), Box("OK")});
    EXPECT_FALSE(Marked()) << "the reader holds the cards, the file the names";

    ClickThrough("btnClear", {Box("OK")});
    EXPECT_TRUE(Marked());
    // Loading over unsaved changes asks; Cancel there leaves everything as it is.
    ClickThrough("btnLoadFromFile", {Box("Cancel")});
    EXPECT_EQ(Rows(), 0);
    ClickThrough("btnLoadFromFile", {Box("&Discard"), PickFile(File), Box("OK")});
    EXPECT_EQ(Rows(), 3);
    EXPECT_FALSE(Marked());
}

// The save dialog refuses a folder that does not exist and stays open to correct it.
TEST_F(MainFormUnsavedTest, TheSaveDialogRefusesAMissingFolder)
{
    const QString Missing = Dir.filePath("no/such/folder/cards.tdb");
    TSeenBox Refusal;
    bool StayedOpen = false;
    ClickThrough("btnSaveToFile", {[&](QWidget* Files) {
                                       SelectFile(qobject_cast<QFileDialog*>(Files), Missing);
                                       QTimer::singleShot(0, Files, [Files] { static_cast<QDialog*>(Files)->accept(); });
                                   },
                                   Box("OK", &Refusal),
                                   [&](QWidget* Files) {
                                       StayedOpen = qobject_cast<QFileDialog*>(Files) && Files->isVisible();
                                       static_cast<QDialog*>(Files)->reject();
                                   }});
    EXPECT_TRUE(Refusal.Text.contains("Folder not found")) << Refusal.Text.toStdString();
    EXPECT_TRUE(StayedOpen);
    EXPECT_FALSE(QFile::exists(Missing));
}

// The designed size is the outer size, frame included.
TEST_F(MainFormUnsavedTest, TheWindowHasItsDesignedOuterSize)
{
    Pump(50ms);
    EXPECT_EQ(Form->frameGeometry().size(), QSize(733, 575))
        << "inner " << Form->width() << "x" << Form->height();
}
