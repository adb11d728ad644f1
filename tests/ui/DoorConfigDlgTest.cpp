#include "ui/DoorConfigDlg.h"

#include "support/ModalHelper.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

namespace {

template <typename T>
T* Child(QWidget& Parent, const char* Name)
{
    T* Found = Parent.findChild<T*>(QString::fromLatin1(Name));
    EXPECT_NE(Found, nullptr) << Name;
    return Found;
}

TEST(DoorConfigDialog, NewDialogShowsLockUnlockAndFiveSeconds)
{
    TDoorConfigDialog Dialog(nullptr);
    EXPECT_TRUE(Child<QRadioButton>(Dialog, "chkLockUnlock")->isChecked());
    EXPECT_EQ(Child<QLineEdit>(Dialog, "txtDelay")->text(), "5");
    EXPECT_EQ(Dialog.Mode(), dmLockUnlock);
    EXPECT_EQ(Dialog.Delay(), 5);
}

TEST(DoorConfigDialog, ModeAndDelayRoundTrip)
{
    TDoorConfigDialog Dialog(nullptr);
    const std::pair<TDoorMode, const char*> Modes[] = {
        {dmMomentary, "chkMomentary"}, {dmUnlockTimed, "chkUnlockTimed"}, {dmLockUnlock, "chkLockUnlock"}};
    for (const auto& [Mode, Name] : Modes) {
        Dialog.SetMode(Mode);
        EXPECT_TRUE(Child<QRadioButton>(Dialog, Name)->isChecked()) << Name;
        EXPECT_EQ(Dialog.Mode(), Mode) << Name;
    }
    Dialog.SetMode(dmMomentary);
    Dialog.SetMode(static_cast<TDoorMode>(3));
    EXPECT_EQ(Dialog.Mode(), dmMomentary) << "a value that is no mode changes nothing";

    Dialog.SetDelay(-3);
    EXPECT_EQ(Child<QLineEdit>(Dialog, "txtDelay")->text(), "-3");
    Dialog.SetDelay(120);
    EXPECT_EQ(Dialog.Delay(), 120);
}

// On its caption: the rest of a wide radio button does not take clicks.
void ClickRadio(QRadioButton* Radio)
{
    QTest::mouseClick(Radio, Qt::LeftButton, {}, QPoint(8, Radio->height() / 2));
}

// Types Text into the delay, clicks Mode's radio button and OK, and answers whatever box comes.
struct TOkRun
{
    int Result = -1;
    bool BoxShown = false;
    TSeenBox Box;
    bool StayedOpen = false;
    QString TextAfter;
    int DelayAfter = 0;
};

TOkRun RunOk(const char* Text, const char* ModeButton = "chkUnlockTimed")
{
    TDoorConfigDialog Dialog(nullptr);
    TOkRun Run;
    auto Answer = AnswerNextModal([&](QWidget* Modal) {
        ClickRadio(Child<QRadioButton>(*Modal, ModeButton));
        auto* Edit = Child<QLineEdit>(*Modal, "txtDelay");
        Edit->selectAll();
        QTest::keyClick(Edit, Qt::Key_Delete);
        QTest::keyClicks(Edit, QString::fromUtf8(Text));
        auto Box = AnswerNextBox("OK", Run.Box);
        QTest::mouseClick(Child<QPushButton>(*Modal, "btnOK"), Qt::LeftButton);
        Run.BoxShown = Box->Answered();
        Run.StayedOpen = Modal->isVisible();
        Run.TextAfter = Edit->text();
        if (Run.StayedOpen)
            QTest::mouseClick(Child<QPushButton>(*Modal, "btnCancel"), Qt::LeftButton);
    });
    Run.Result = Dialog.exec();
    EXPECT_TRUE(Answer->Answered());
    if (Run.Result == QDialog::Accepted) {
        EXPECT_EQ(Dialog.Mode(), dmUnlockTimed);
    }
    Run.DelayAfter = Dialog.Delay();
    return Run;
}

TEST(DoorConfigDialog, OkWithAValidDelayClosesAtOnce)
{
    const std::pair<const char*, int> Cases[] = {{"10", 10}, {"$A", 10}, {" 7", 7}, {"255", 255}, {"1", 1}};
    for (const auto& [Text, Expected] : Cases) {
        const TOkRun Run = RunOk(Text);
        EXPECT_FALSE(Run.BoxShown) << Text << ": " << Run.Box.Text.toStdString();
        EXPECT_EQ(Run.Result, QDialog::Accepted) << Text;
        EXPECT_EQ(Run.DelayAfter, Expected) << Text;
    }
}

TEST(DoorConfigDialog, OkWithADelayThatDoesNotConvertShowsZeroAndStaysOpen)
{
    for (const char* Text : {"abc", "7 ", "", "2147483648"}) {
        const TOkRun Run = RunOk(Text);
        EXPECT_TRUE(Run.BoxShown) << '"' << Text << '"';
        EXPECT_EQ(Run.Box.Title, "Error");
        EXPECT_EQ(Run.Box.Text, "Invalid unlock delay");
        EXPECT_EQ(Run.Box.Icon, QMessageBox::Critical);
        EXPECT_EQ(Run.Box.Buttons, QStringList{"OK"});
        EXPECT_TRUE(Run.StayedOpen);
        EXPECT_EQ(Run.TextAfter, "0") << '"' << Text << '"';
        EXPECT_EQ(Run.Result, QDialog::Rejected);
    }
}

TEST(DoorConfigDialog, OkWithADelayOutOfRangeKeepsTheTextAndStaysOpen)
{
    for (const char* Text : {"0", "-3", "256", "$FFFFFFFF"}) {
        const TOkRun Run = RunOk(Text);
        EXPECT_TRUE(Run.BoxShown) << Text;
        EXPECT_EQ(Run.Box.Text, "Invalid unlock delay");
        EXPECT_TRUE(Run.StayedOpen);
        EXPECT_EQ(Run.TextAfter, Text);
    }
}

TEST(DoorConfigDialog, EveryModeNeedsAPositiveDelay)
{
    for (const char* Mode : {"chkLockUnlock", "chkMomentary"}) {
        const TOkRun Run = RunOk("", Mode);
        EXPECT_TRUE(Run.BoxShown) << Mode;
        EXPECT_TRUE(Run.StayedOpen) << Mode;
        EXPECT_EQ(Run.TextAfter, "0");
    }
}

TEST(DoorConfigDialog, CancelAndCloseButtonCloseWithoutATest)
{
    for (const bool ByCloseButton : {false, true}) {
        TDoorConfigDialog Dialog(nullptr);
        bool BoxShown = false;
        auto Answer = AnswerNextModal([&](QWidget* Modal) {
            Child<QLineEdit>(*Modal, "txtDelay")->setText("abc");
            TSeenBox Seen;
            auto Box = AnswerNextBox("OK", Seen);
            if (ByCloseButton)
                Modal->close();
            else
                QTest::mouseClick(Child<QPushButton>(*Modal, "btnCancel"), Qt::LeftButton);
            BoxShown = Box->Answered();
        });
        EXPECT_EQ(Dialog.exec(), QDialog::Rejected);
        EXPECT_FALSE(BoxShown);
        EXPECT_EQ(Child<QLineEdit>(Dialog, "txtDelay")->text(), "abc");
    }
}

TEST(DoorConfigDialog, NeitherEnterNorEscapeCloses)
{
    TDoorConfigDialog Dialog(nullptr);
    bool StillOpen = false;
    auto Answer = AnswerNextModal([&](QWidget* Modal) {
        auto* Edit = Child<QLineEdit>(*Modal, "txtDelay");
        for (QWidget* Target : {static_cast<QWidget*>(Edit), static_cast<QWidget*>(Child<QPushButton>(*Modal, "btnOK"))}) {
            Target->setFocus();
            QTest::keyClick(Target, Qt::Key_Return);
            QTest::keyClick(Target, Qt::Key_Enter);
            QTest::keyClick(Target, Qt::Key_Escape);
        }
        StillOpen = Modal->isVisible();
        Modal->close();
    });
    EXPECT_EQ(Dialog.exec(), QDialog::Rejected);
    EXPECT_TRUE(StillOpen);
}

TEST(DoorConfigDialog, OpensOnOkAndTabsFromTheButtonsToTheDelay)
{
    TDoorConfigDialog Dialog(nullptr);
    QString FocusOnOpen;
    auto Answer = AnswerNextModal([&](QWidget* Modal) {
        FocusOnOpen = Modal->focusWidget() ? Modal->focusWidget()->objectName() : QString();
        Modal->close();
    });
    Dialog.exec();
    EXPECT_EQ(FocusOnOpen, "btnOK");

    QStringList Order;
    QWidget* W = Child<QPushButton>(Dialog, "btnOK");
    for (int I = 0; I < 6; ++I, W = W->nextInFocusChain()) {
        while (W->focusPolicy() == Qt::NoFocus)
            W = W->nextInFocusChain();
        Order << W->objectName();
    }
    EXPECT_EQ(Order, QStringList({"btnOK", "btnCancel", "chkLockUnlock", "chkMomentary", "chkUnlockTimed", "txtDelay"}));
}

} // namespace
