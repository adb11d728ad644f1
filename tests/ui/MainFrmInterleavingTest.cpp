// The main window when two things meet: the reader goes away while a window is open, the user
// acts while a read runs, a connect fails half way, the door settings change.

#include "cards/CardDatabaseFile.h"
#include "support/MainFormDriver.h"
#include "ui/MessageBoxes.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTemporaryDir>

using namespace std::chrono_literals;

namespace {

std::vector<uint8_t> Raw(const char* HexText)
{
    const QByteArray B = Hex(HexText);
    return std::vector<uint8_t>(B.begin(), B.end());
}

std::vector<uint8_t> CardFrame(uint32_t Value)
{
    const sim::CardBytes B = Card(Value);
    return {0x42, 0x09, 0x04, 0xFF, B[0], B[1], B[2], B[3], B[4]};
}

int VisibleErrorBoxes()
{
    int Count = 0;
    for (const QWidget* W : QApplication::topLevelWidgets())
        Count += W->isVisible() && qobject_cast<const QMessageBox*>(W) && W->windowTitle() == "Error" ? 1 : 0;
    return Count;
}

class MainFormInterleavingTest : public MainFormDriver
{
protected:
    // Starts a read that the reader begins (frame 3, one card) and then never finishes.
    void StartStalledRead()
    {
        Reader().SetStallTimeout(300);
        Sim->SetSilent(true);
        TModalScript Script{Box("OK")};
        Click("btnRead");
        ASSERT_TRUE(WaitUntil([&] { return Script.Done(); }));
        std::vector<uint8_t> Begin = Raw("42 05 03 FF 00");
        const std::vector<uint8_t> One = CardFrame(500);
        Begin.insert(Begin.end(), One.begin(), One.end());
        Sim->SendRaw(Begin);
        ASSERT_TRUE(WaitUntil([&] { return Progress->isVisible() && Reader().Tags().Count() == 1; }));
    }
};

} // namespace

// The reader goes away while the swipe window or the error report is open, with more frames
// behind the one being handled: one "connection lost" box, no error from the closed port, no use
// of freed memory (AddressSanitizer), and a fresh reader connects.
TEST_F(MainFormInterleavingTest, AReaderUnpluggedUnderAnOpenWindowIsReportedOnce)
{
    for (const bool SwipeWindow : {true, false}) {
        SCOPED_TRACE(SwipeWindow ? "swipe window" : "error report");
        Reports.clear();
        SetExceptionReporter([this](const std::exception& E) {
            Reports << E.what();
            ShowErrorReport(E);
        });
        Connect();
        TSeenBox Lost;
        TModalScript Script{[&](QWidget*) { Sim->HangUp(); }, Box("OK", &Lost),
                            Box(SwipeWindow ? "&Ignore" : "OK")};
        // What opens the window, then a frame 6 that would make the program write to the line.
        Sim->SendRaw(Raw(SwipeWindow ? "42 09 01 FF 00 00 00 03 09  42 05 06 FF 00" : "42 04 0C FF  42 05 06 FF 00"));
        ASSERT_TRUE(WaitUntil([&] { return Script.Done() && !QApplication::activeModalWidget(); }));
        Pump(100ms);
        EXPECT_TRUE(Lost.Text.contains("connection to the card reader was lost")) << Lost.Text.toStdString();
        EXPECT_EQ(Reports, SwipeWindow ? QStringList{} : QStringList{"Unknown command"});
        EXPECT_FALSE(Reader().Connected());
        EXPECT_FALSE(Reader().Busy());
        Settle();
        EXPECT_TRUE(Action("actConnect")->isEnabled());
        Replug();
    }
}

// Load, Clear or an accepted swiped card during a read that then stalls: the user's action stays,
// the late frames of the read change nothing, and no message claims that nothing changed.
TEST_F(MainFormInterleavingTest, TheUsersActionDuringAReadWinsOverTheRead)
{
    QTemporaryDir Dir;
    const QString File = Dir.filePath("other.tdb");
    {
        TRfidTags Other;
        Other.Add().Bytes = Card(900);
        Other.Add().Bytes = Card(901);
        SaveCardDatabaseFile(File, Other, {0, 0, 5});
    }
    enum class TUserAction { Load, Clear, AcceptSwipe };
    const struct
    {
        TUserAction Do;
        QStringList Numbers;
    } Cases[] = {
        {TUserAction::Load, {"0000000900 000,900", "0000000901 000,901"}},
        {TUserAction::Clear, {}},
        {TUserAction::AcceptSwipe, {"0000000001 000,1", "0000000002 000,2", "0000000777 000,777"}},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(int(C.Do));
        Reader().Tags().Clear();
        AddCards(2);
        Connect();
        StartStalledRead();
        switch (C.Do) {
        case TUserAction::Load: ClickThrough("btnLoadFromFile", {PickFile(File), Box("OK")}); break;
        case TUserAction::Clear: ClickThrough("btnClear", {Box("OK")}); break;
        case TUserAction::AcceptSwipe: {
            TModalScript Adding{Box("&Add to database")};
            Sim->Swipe(Card(777));
            ASSERT_TRUE(WaitUntil([&] { return Adding.Done() && !QApplication::activeModalWidget(); }));
            break;
        }
        }
        EXPECT_FALSE(Progress->isVisible());
        // The rest of the read arrives late, then the watchdog's time passes.
        std::vector<uint8_t> Late = CardFrame(501);
        const std::vector<uint8_t> End = Raw("42 04 05 FF");
        Late.insert(Late.end(), End.begin(), End.end());
        Sim->SendRaw(Late);
        Pump(700ms);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << ModalText(QApplication::activeModalWidget()).toStdString();
        EXPECT_EQ(Column(1), C.Numbers);
        if (C.Do == TUserAction::AcceptSwipe)
            EXPECT_EQ(Column(2), (QStringList{"Card 1", "Card 2", ""}));
        EXPECT_FALSE(Reader().TransferActive());
        TModalScript Lost{Box("OK")};
        Replug();
        ASSERT_TRUE(WaitUntil([&] { return Lost.Done() && !QApplication::activeModalWidget(); }));
    }
}

// A listed card swiped while a read has the list set aside is not offered as new, and comes back
// from the read with its name.
TEST_F(MainFormInterleavingTest, AKnownCardSwipedDuringAReadKeepsItsName)
{
    AddCards(2);
    Connect();
    StartStalledRead();
    Sim->Swipe(Card(2));
    Pump(100ms); // well inside the stall timeout
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    std::vector<uint8_t> Rest = CardFrame(2);
    const std::vector<uint8_t> End = Raw("42 04 05 FF");
    Rest.insert(Rest.end(), End.begin(), End.end());
    Sim->SendRaw(Rest);
    ASSERT_TRUE(WaitUntil([&] { return !Progress->isVisible(); }));
    EXPECT_EQ(Column(1), (QStringList{"0000000500 000,500", "0000000002 000,2"}));
    EXPECT_EQ(Column(2), (QStringList{"", "Card 2"}));
}

// The connection's own handler fails (asking for the door settings): "Failed to connect.", the
// port is closed again and the commands say so.
TEST_F(MainFormInterleavingTest, AConnectThatFailsHalfWayLeavesThePortClosed)
{
    bool Failed = false;
    Reader().OnSend = [&](QObject*, TPacket&) {
        if (!Failed) {
            Failed = true;
            throw Exception("the line refused the frame");
        }
    };
    TSeenBox Seen;
    ClickThrough("btnConnect", {Box("&OK"), Box("OK", &Seen)});
    EXPECT_TRUE(Seen.Text.startsWith("Failed to connect.")) << Seen.Text.toStdString();
    EXPECT_FALSE(Reader().Connected());
    Settle();
    EXPECT_TRUE(Action("actConnect")->isEnabled());
    EXPECT_FALSE(Action("actRead")->isEnabled());
    Connect(); // and the next try works
}

// After OK in the door lock dialog the program asks the reader again, so the dialog then shows
// what the reader holds rather than the settings from before.
TEST_F(MainFormInterleavingTest, TheDoorLockDialogShowsTheNewSettingsAfterAChange)
{
    Sim->SetDoor(0, 5);
    Connect();
    ClickThrough("btnDoorConfig", {[](QWidget* Dialog) {
        Dialog->findChild<QRadioButton*>("chkUnlockTimed")->setChecked(true);
        Dialog->findChild<QLineEdit*>("txtDelay")->setText("30");
        ClickButton(Dialog, "&OK");
    }});
    ASSERT_TRUE(WaitUntil([&] { return Reader().DoorDelay() == 30; }));
    EXPECT_EQ(Reader().DoorMode(), dmUnlockTimed);
    QString Shown;
    ClickThrough("btnDoorConfig", {[&](QWidget* Dialog) {
        Shown = Dialog->findChild<QLineEdit*>("txtDelay")->text();
        ClickButton(Dialog, "&Cancel");
    }});
    EXPECT_EQ(Shown, "30");
}

// A reader that falls silent and then drops its line: one box about the connection, whose text
// becomes the newer message.
TEST_F(MainFormInterleavingTest, ASilentThenLostReaderShowsOneBox)
{
    Connect();
    Reader().SetStallTimeout(200);
    Sim->SetSilent(true);
    TSeenBox Last;
    int MostBoxes = 0;
    TModalScript Script{Box("OK"), [&](QWidget* Stalled) {
                            EXPECT_TRUE(ModalText(Stalled).contains("stopped answering"));
                            Sim->HangUp();
                            WaitUntil([&] { return !Reader().Connected(); });
                            Pump(100ms);
                            MostBoxes = VisibleErrorBoxes();
                            Last = SeeBox(Stalled);
                            ClickButton(Stalled, "OK");
                        }};
    Click("btnRead");
    ASSERT_TRUE(WaitUntil([&] { return Script.Done() && !QApplication::activeModalWidget(); }));
    EXPECT_EQ(MostBoxes, 1);
    EXPECT_TRUE(Last.Text.contains("connection to the card reader was lost")) << Last.Text.toStdString();
}
