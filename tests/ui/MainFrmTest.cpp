#include "reader/Dorvik.h"
#include "sim/SimReader.h"
#include "support/MainFormDriver.h"
#include "support/SimCards.h"
#include "support/ModalHelper.h"
#include "support/ModalScript.h"
#include "support/TestSupport.h"
#include "ui/MainFrm.h"
#include "ui/ProgressFrm.h"

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QAction>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QPointer>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeView>

using namespace std::chrono_literals;

namespace {

// Message boxes show "\r\n" as a line break.
QString Shown(const char* Text) { return QString::fromUtf8(Text).replace("\r\n", "\n"); }

// A file dialog answered with a file name, typed into its own folder. Should the dialog refuse
// the name, the test fails and the dialog is cancelled rather than left waiting.
TModalScript::TAnswer ChooseFile(const QString& Name, const QString& Title)
{
    return [Name, Title](QWidget* Modal) {
        auto* Files = qobject_cast<QFileDialog*>(Modal);
        if (!Files) {
            ADD_FAILURE() << "expected a file dialog, got \"" << Modal->windowTitle().toStdString() << "\": "
                          << ModalText(Modal).toStdString();
            Modal->close();
            return;
        }
        EXPECT_EQ(Files->windowTitle(), Title);
        // Typed as a person would: the whole path into the name field, then Enter.
        auto* NameEdit = Files->findChild<QLineEdit*>("fileNameEdit");
        if (!NameEdit) {
            ADD_FAILURE() << "the file dialog has no name field";
            Files->reject();
            return;
        }
        NameEdit->setFocus();
        NameEdit->setText(Name);
        QTest::keyClick(NameEdit, Qt::Key_Return);
        QPointer<QFileDialog> Still(Files);
        QTimer::singleShot(3000, [Still, Name] {
            if (Still && Still->isVisible()) {
                ADD_FAILURE() << "the file dialog did not take " << Name.toStdString();
                Still->reject();
            }
        });
    };
}

// The main window against a simulated reader that the connection dialog offers.
class MainFormTest : public MainFormDriver
{
protected:
    // Clicks a command whose first window is a message box, answers it, and returns what it showed.
    TSeenBox ClickAndAnswer(const char* ButtonName, const QString& Answer)
    {
        TSeenBox Seen;
        TModalScript Script{Box(Answer, &Seen)};
        Click(ButtonName);
        EXPECT_TRUE(WaitUntil([&] { return Script.Done(); })) << ButtonName;
        return Seen;
    }

    void SelectRow(int Row)
    {
        const QRect Rect = List()->visualRect(Model()->index(Row, 1));
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, Rect.center());
    }
};

} // namespace

TEST_F(MainFormTest, StartsDisconnectedWithOnlyConnectLoadAndSaveEnabled)
{
    Settle();
    EXPECT_EQ(Form->windowTitle(), "Zelvora Projects - Dorvik - Card reader");
    EXPECT_FALSE(Form->windowFlags() & Qt::WindowMaximizeButtonHint);
    for (const char* On : {"actConnect", "actLoadFromFile", "actSaveToFile"})
        EXPECT_TRUE(Action(On)->isEnabled()) << On;
    for (const char* Off : {"actRead", "actWrite", "actDoorConfig", "actDelete", "actSetMaster", "actEditName", "actClear"})
        EXPECT_FALSE(Action(Off)->isEnabled()) << Off;
    EXPECT_FALSE(Button("btnRead")->isEnabled());
    EXPECT_EQ(Button("btnSetMaster")->text(), "Set &master");
    EXPECT_EQ(Action("actSetMaster")->text(), "&Set master");
    EXPECT_EQ(Button("btnDoorConfig")->text(), "Door &lock");
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(Model()->headerData(1, Qt::Horizontal).toString(), QString::fromUtf8("Cardn°"));
}

TEST_F(MainFormTest, ConnectingAsksForTheDoorSettingsAndSwitchesTheCommands)
{
    Sim->SetDoor(2, 30);
    Connect();
    EXPECT_EQ(Sim->ReceivedFrames().front(), (sim::Frame{0x42, 0x04, 0x0B, 0xFF}));
    ASSERT_TRUE(WaitUntil([&] { return Reader().DoorDelay() == 30; }));
    Settle();
    EXPECT_FALSE(Action("actConnect")->isEnabled());
    for (const char* On : {"actRead", "actWrite", "actDoorConfig"})
        EXPECT_TRUE(Action(On)->isEnabled()) << On;
}

TEST_F(MainFormTest, AFailedConnectSaysWhy)
{
    qputenv("DORVIK_EXTRA_PORTS", "/dev/no-such-reader");
    TSeenBox Seen;
    ClickThrough("btnConnect", {Box("&OK"), Box("OK", &Seen)});
    EXPECT_EQ(Seen.Title, "Error");
    EXPECT_TRUE(Seen.Text.startsWith("Failed to connect.\n\n")) << Seen.Text.toStdString();
    EXPECT_TRUE(Seen.Text.contains("was not found")) << Seen.Text.toStdString();
    Settle();
    EXPECT_TRUE(Action("actConnect")->isEnabled());

    qputenv("DORVIK_EXTRA_PORTS", "");
    ClickThrough("btnConnect", {Box("&OK"), Box("OK", &Seen)});
    EXPECT_TRUE(Seen.Text.startsWith("Failed to connect.")) << Seen.Text.toStdString();
    EXPECT_FALSE(Reader().Connected());
}

TEST_F(MainFormTest, AReadEmptiesTheViewShowsProgressAndThenListsTheCards)
{
    Connect();
    Sim->SetCards({Card(11), Card(22), Card(33)});
    Sim->SetMaster(1);
    Sim->SetReplyDelay(150ms);
    AddCards(2, 100);
    const TSeenBox Question = ClickAndAnswer("btnRead", "OK");
    EXPECT_EQ(Question.Text, Shown("Do you want to transfer the card reader's database to your computer?\r\n\r\n"
                                   "Any changes you made locally will be lost."));
    EXPECT_EQ(Question.Buttons, (QStringList{"OK", "Cancel"}));
    ASSERT_TRUE(WaitUntil([&] { return Progress->isVisible(); }));
    EXPECT_EQ(Rows(), 0);
    ASSERT_TRUE(WaitUntil([&] { return Rows() == 3; }));
    EXPECT_FALSE(Progress->isVisible());
    EXPECT_EQ(Column(0), (QStringList{"1", "2", "3"}));
    EXPECT_EQ(Column(1), (QStringList{"0000000011 000,11", "0000000022 000,22", "0000000033 000,33"}));
    EXPECT_EQ(Column(3), (QStringList{"", "Yes", ""}));
}

TEST_F(MainFormTest, CancellingTheReadQuestionSendsNothing)
{
    Connect();
    const size_t Before = Sim->ReceivedFrames().size();
    ClickAndAnswer("btnRead", "Cancel");
    Pump(100ms);
    EXPECT_EQ(Sim->ReceivedFrames().size(), Before);
}

TEST_F(MainFormTest, AWriteEndsWithTheCompletionMessageAndTheReaderHoldsTheCards)
{
    Connect();
    AddCards(3, 500);
    Reader().SetMaster(2);
    TSeenBox Question, Done;
    ClickThrough("btnWrite", {Box("OK", &Question), Box("OK", &Done)});
    EXPECT_EQ(Question.Text, Shown("Do you want to send this database to your card reader?\r\n\r\n"
                                   "Any cards already in the card reader will be overwritten."));
    EXPECT_EQ(Done.Title, "Information");
    EXPECT_EQ(Done.Text, "Your card reader has been updated and is ready to use.");
    EXPECT_EQ(Sim->Cards(), (std::vector<sim::CardBytes>{Card(500), Card(501), Card(502)}));
    EXPECT_EQ(Sim->Master(), 2);
    EXPECT_FALSE(Progress->isVisible());
}

TEST_F(MainFormTest, MoreThan250CardsAreRefusedBeforeAnythingIsSent)
{
    Connect();
    AddCards(251);
    const size_t Before = Sim->ReceivedFrames().size();
    const TSeenBox Refusal = ClickAndAnswer("btnWrite", "OK");
    EXPECT_EQ(Refusal.Title, "Error");
    EXPECT_EQ(Refusal.Text, "Too many cards (251/250). Please remove 1 cards.");
    Pump(100ms);
    EXPECT_EQ(Sim->ReceivedFrames().size(), Before);

    Reader().Tags().Delete(0);
    Form->RefreshCardList();
    const TSeenBox Question = ClickAndAnswer("btnWrite", "Cancel");
    EXPECT_TRUE(Question.Text.startsWith("Do you want to send this database"));
}

TEST_F(MainFormTest, EditSetMasterDeleteAndClearActOnTheSelectedCard)
{
    AddCards(3, 5);
    Reader().SetMaster(2);
    EXPECT_EQ(Column(3), (QStringList{"", "", "Yes"}));

    // Edit: the dialog opens with the name; the typed name replaces it.
    SelectRow(1);
    ClickThrough("sBitBtn1", {[](QWidget* Dialog) {
        auto* Edit = Dialog->findChild<QLineEdit*>("txtName");
        EXPECT_EQ(Edit->text(), "Card 2");
        EXPECT_EQ(Edit->selectedText(), "Card 2");
        Edit->insert(QString::fromUtf8("Tür Süd")); // as typed: it replaces the selection
        ClickButton(Dialog, "&OK");
    }});
    EXPECT_EQ(Cell(1, 2), QString::fromUtf8("Tür Süd"));
    EXPECT_EQ(Reader().Tags().Items(1).Name, QByteArray("T\xFCr S\xFC" "d")); // Windows-1252

    // Set master asks with the card number; No changes nothing, Yes moves the mark.
    SelectRow(0);
    TSeenBox Seen = ClickAndAnswer("btnSetMaster", "&No");
    EXPECT_EQ(Seen.Text, "Set 0000000005 000,5 as master card?");
    EXPECT_EQ(Seen.Buttons, (QStringList{"&Yes", "&No"}));
    EXPECT_EQ(Reader().Master(), 2u);
    ClickAndAnswer("btnSetMaster", "&Yes");
    EXPECT_EQ(Column(3), (QStringList{"Yes", "", ""}));

    // Delete above the master keeps the mark on its card; IDs are renumbered.
    Reader().SetMaster(2);
    SelectRow(0);
    Seen = ClickAndAnswer("btnDelete", "OK");
    EXPECT_EQ(Seen.Text, "Remove the selected tag from the database?");
    EXPECT_EQ(Column(0), (QStringList{"1", "2"}));
    EXPECT_EQ(Column(1), (QStringList{"0000000006 000,6", "0000000007 000,7"}));
    EXPECT_EQ(Column(3), (QStringList{"", "Yes"}));

    // Clear: Cancel keeps everything, OK empties list and view.
    Seen = ClickAndAnswer("btnClear", "Cancel");
    EXPECT_EQ(Seen.Text, "Remove all cards from the database?");
    EXPECT_EQ(Rows(), 2);
    ClickAndAnswer("btnClear", "OK");
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(Reader().Tags().Count(), 0);
    Settle();
    EXPECT_FALSE(Action("actClear")->isEnabled());
}

TEST_F(MainFormTest, ADoubleClickWithoutSelectionDoesNothingAndWithOneEdits)
{
    AddCards(1);
    QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, QPoint(5, List()->viewport()->height() - 5));
    Pump(50ms);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    TModalScript Script{[](QWidget* Dialog) {
        auto* Edit = Dialog->findChild<QLineEdit*>("txtName");
        Edit->clear();
        ClickButton(Dialog, "&OK");
    }};
    // A person's double click: the first press selects, the second is the double click.
    const QRect Rect = List()->visualRect(Model()->index(0, 2));
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, Rect.center());
    QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, Rect.center());
    ASSERT_TRUE(WaitUntil([&] { return Script.Done() && !QApplication::activeModalWidget(); }));
    EXPECT_EQ(Cell(0, 2), "");
    EXPECT_TRUE(Reader().Tags().Items(0).Name.isEmpty());
}

TEST_F(MainFormTest, TheDoorLockDialogShowsTheReadersSettingsAndSendsTheNewOnes)
{
    Sim->SetDoor(2, 30);
    Connect();
    ASSERT_TRUE(WaitUntil([&] { return Reader().DoorDelay() == 30; }));
    ClickThrough("btnDoorConfig", {[](QWidget* Dialog) {
        EXPECT_TRUE(Dialog->findChild<QRadioButton*>("chkUnlockTimed")->isChecked());
        auto* Delay = Dialog->findChild<QLineEdit*>("txtDelay");
        EXPECT_EQ(Delay->text(), "30");
        auto* Momentary = Dialog->findChild<QRadioButton*>("chkMomentary");
        QTest::mouseClick(Momentary, Qt::LeftButton, {}, QPoint(8, Momentary->height() / 2)); // on its circle
        Delay->setText("10");
        ClickButton(Dialog, "&OK");
    }});
    ASSERT_TRUE(WaitUntil([&] { return Sim->DoorMode() == 1; }));
    EXPECT_EQ(Sim->DoorDelay(), 10);
    EXPECT_EQ(Reader().DoorMode(), dmUnlockTimed); // until the reader reports again
}

TEST_F(MainFormTest, SaveAndLoadGoThroughTheFileDialogs)
{
    QTemporaryDir Dir;
    const QString Name = Dir.filePath("office.tdb");
    AddCards(2);
    Reader().SetMaster(1);

    TSeenBox Saved;
    ClickThrough("btnSaveToFile", {[&](QWidget* Dialog) {
                                       if (auto* Files = qobject_cast<QFileDialog*>(Dialog)) {
                                           EXPECT_EQ(Files->defaultSuffix(), "tdb");
                                           EXPECT_EQ(Files->nameFilters().first(), "Dorvik Card Database (*.tdb)");
                                       }
                                       ChooseFile(Dir.filePath("office"), "Save card database to file")(Dialog);
                                   },
                                   Box("OK", &Saved)});
    EXPECT_EQ(Saved.Text, "Succesfully saved 2 cards to file.");
    ASSERT_TRUE(QFile::exists(Name)); // the default suffix was added

    Reader().Tags().Clear();
    Reader().SetMaster(0);
    Form->RefreshCardList();
    TSeenBox Loaded;
    ClickThrough("btnLoadFromFile", {ChooseFile(Name, "Load card database from file"), Box("OK", &Loaded)});
    EXPECT_EQ(Loaded.Text, "Succesfully loaded 2 cards from file.");
    EXPECT_EQ(Column(2), (QStringList{"Card 1", "Card 2"}));
    EXPECT_EQ(Column(3), (QStringList{"", "Yes"}));
}

TEST_F(MainFormTest, ABadOrCutShortFileLeavesTheListAsItWas)
{
    QTemporaryDir Dir;
    const QString Bad = Dir.filePath("bad.tdb");
    const QString Short = Dir.filePath("short.tdb");
    {
        QFile F(Bad);
        F.open(QIODevice::WriteOnly);
        F.write(QByteArray("tdbf") + QByteArray(20, '\0'));
        QFile G(Short);
        G.open(QIODevice::WriteOnly);
        G.write(QByteArray("TDBF") + QByteArray(20, '\0') + QByteArray("\x01\x00\x00\x00\x01\x05\x00\x00\x00" "ab", 11));
    }
    AddCards(2);
    Reader().SetMaster(1);
    for (const auto& [File, Message] : {std::pair{Bad, QString("The file you selected is not a valid database file.")},
                                        std::pair{Short, QString("Stream read error")}}) {
        TSeenBox Error;
        ClickThrough("btnLoadFromFile", {ChooseFile(File, "Load card database from file"), Box("OK", &Error)});
        EXPECT_EQ(Error.Title, "Error");
        EXPECT_EQ(Error.Text, Message);
        EXPECT_EQ(Column(2), (QStringList{"Card 1", "Card 2"}));
        EXPECT_EQ(Reader().Master(), 1u);
    }
}

TEST_F(MainFormTest, SwipesSelectListedCardsAndOfferUnlistedOnes)
{
    Connect();
    AddCards(60, 1);
    Sim->Swipe(Card(45));
    ASSERT_TRUE(WaitUntil([&] { return List()->selectionModel()->selectedRows().size() == 1; }));
    EXPECT_EQ(List()->selectionModel()->selectedRows().first().row(), 44);
    const QRect Row = List()->visualRect(Model()->index(44, 0));
    EXPECT_TRUE(List()->viewport()->rect().contains(Row.center()));
    Settle();
    EXPECT_TRUE(Action("actDelete")->isEnabled());

    // Unlisted: the window offers the card; a second swipe while it is open is ignored.
    TModalScript Adding{[&](QWidget* Window) {
        EXPECT_EQ(Window->windowTitle(), "Card swipe");
        Sim->Swipe(Card(999));
        Pump(200ms);
        ClickButton(Window, "&Add to database");
    }};
    Sim->Swipe(Card(777));
    ASSERT_TRUE(WaitUntil([&] { return Adding.Done() && QApplication::activeModalWidget() == nullptr; }));
    Pump(100ms);
    ASSERT_EQ(Rows(), 61);
    EXPECT_EQ(Cell(60, 1), "0000000777 000,777");
    EXPECT_EQ(Cell(60, 2), "");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    TModalScript Ignoring{Box("&Ignore")};
    Sim->Swipe(Card(888));
    ASSERT_TRUE(WaitUntil([&] { return Ignoring.Done() && !QApplication::activeModalWidget(); }));
    Pump(100ms);
    EXPECT_EQ(Rows(), 61);
}

TEST_F(MainFormTest, AFullListIgnoresUnlistedSwipes)
{
    Connect();
    AddCards(250);
    TModalScript Watching({[](QWidget* Window) { Window->close(); }}, 500ms);
    Sim->Swipe(Card(100000));
    Pump(600ms);
    EXPECT_FALSE(Watching.Done());
    Reader().Tags().Delete(0);
    Form->RefreshCardList();
    TModalScript Offering{Box("&Ignore")};
    Sim->Swipe(Card(100000));
    ASSERT_TRUE(WaitUntil([&] { return Offering.Done() && !QApplication::activeModalWidget(); }));
}

TEST_F(MainFormTest, AnUnpluggedReaderIsReportedAndCanBeConnectedAgain)
{
    Connect();
    AddCards(5);
    Sim->SetAnswerLimit(3); // frame 6, then two cards are acknowledged, then the cable goes
    TSeenBox Lost;
    TModalScript Script{Box("OK"), Box("OK", &Lost)};
    Click("btnWrite");
    ASSERT_TRUE(WaitUntil([&] { return Sim->ReceivedFrames().size() >= 4; }));
    Sim->HangUp();
    ASSERT_TRUE(WaitUntil([&] { return Script.Done() && !QApplication::activeModalWidget(); }));
    EXPECT_EQ(Lost.Title, "Error");
    EXPECT_TRUE(Lost.Text.contains("connection to the card reader was lost")) << Lost.Text.toStdString();
    EXPECT_FALSE(Progress->isVisible());
    EXPECT_FALSE(Reader().Connected());
    EXPECT_EQ(Rows(), 5);
    Settle();
    EXPECT_TRUE(Action("actConnect")->isEnabled());
    EXPECT_FALSE(Action("actRead")->isEnabled());
}

TEST_F(MainFormTest, ASilentReaderEndsTheTransferWithAMessage)
{
    Connect();
    AddCards(2);
    Reader().SetStallTimeout(300);
    Sim->SetSilent(true);
    TSeenBox Stalled;
    ClickThrough("btnRead", {Box("OK"), Box("OK", &Stalled)});
    EXPECT_TRUE(Stalled.Text.contains("stopped answering")) << Stalled.Text.toStdString();
    EXPECT_FALSE(Progress->isVisible());
    EXPECT_EQ(Column(2), (QStringList{"Card 1", "Card 2"}));
    EXPECT_TRUE(Reader().Connected());
}

TEST_F(MainFormTest, ACommandWhoseCardVanishedDuringItsQuestionDoesNothing)
{
    AddCards(3, 5);
    Reader().SetMaster(0);
    // While the question is open a swiped card is accepted elsewhere, a read ends... here the
    // selected card simply goes away and the view is rebuilt before the user answers.
    SelectRow(1);
    ClickThrough("btnDelete", {[&](QWidget* Box) {
        Reader().Tags().Delete(1);
        Form->RefreshCardList();
        ClickButton(Box, "OK");
    }});
    EXPECT_EQ(Column(1), (QStringList{"0000000005 000,5", "0000000007 000,7"}));

    // The card moved to another row: the command follows it there.
    SelectRow(1);
    ClickThrough("btnSetMaster", {[&](QWidget* Box) {
        TRfidTag& Front = Reader().Tags().Add();
        Front.Bytes = Card(9);
        Reader().Tags().Delete(0); // card 7 is now row 0
        Form->RefreshCardList();
        ClickButton(Box, "&Yes");
    }});
    EXPECT_EQ(Reader().Master(), 0u);
    EXPECT_EQ(Cell(0, 1), "0000000007 000,7");
    EXPECT_EQ(Cell(0, 3), "Yes");
}

TEST_F(MainFormTest, TheNameColumnTakesTheWidthTheOthersLeave)
{
    QHeaderView* Header = List()->header();
    auto Filled = [&] {
        int Sum = 0;
        for (int Column = 0; Column < 4; ++Column)
            Sum += Header->sectionSize(Column);
        return Sum;
    };
    EXPECT_EQ(Header->sectionSize(0), 60);
    EXPECT_GE(Header->sectionSize(1), 150); // wider where the font would cut the longest number
    EXPECT_EQ(Header->sectionSize(3), 50);
    EXPECT_EQ(Filled(), List()->viewport()->width());
    const int Name = Header->sectionSize(2);
    Form->resize(Form->width() + 100, Form->height());
    ASSERT_TRUE(WaitUntil([&] { return Header->sectionSize(2) == Name + 100; }));
    EXPECT_EQ(Filled(), List()->viewport()->width());
    EXPECT_TRUE(Header->sectionsMovable());
    EXPECT_FALSE(Header->sectionsClickable());
}
