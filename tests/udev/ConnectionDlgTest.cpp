#include "MockUsb.h"

#include "support/TestSupport.h"
#include "discovery/AgentDoors.h"
#include "ui/ConnectionDlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

class ConnectionDlgTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Mock = std::make_unique<TMockUsb>();
        if (!Mock->Active())
            GTEST_SKIP() << "umockdev's preload library is not loaded (LD_PRELOAD=libumockdev-preload.so.0), "
                            "so there is no fake sysfs to discover";
    }

    static QComboBox* PortList(QDialog& Dialog) { return Dialog.findChild<QComboBox*>("cbPort"); }

    static QStringList Entries(QDialog& Dialog)
    {
        QStringList Result;
        for (int I = 0; I < PortList(Dialog)->count(); ++I)
            Result << PortList(Dialog)->itemText(I);
        return Result;
    }

    static void Click(QDialog& Dialog, const char* Button)
    {
        QTest::mouseClick(Dialog.findChild<QPushButton*>(Button), Qt::LeftButton);
    }

    // Shows the dialog modally and plays the user inside its loop. A dialog the user did not
    // close is ended with -1, so a failed step cannot hang the test.
    static int RunModal(QDialog& Dialog, const std::function<void()>& User)
    {
        QTimer::singleShot(0, &Dialog, [&] {
            EXPECT_EQ(QApplication::activeModalWidget(), &Dialog);
            User();
            if (Dialog.isVisible())
                Dialog.done(-1);
        });
        return Dialog.exec();
    }

    std::unique_ptr<TMockUsb> Mock;
};

TEST_F(ConnectionDlgTest, WithoutReadersOkGivesNoPort)
{
    TConnectionDialog Dialog;
    EXPECT_EQ(Dialog.windowTitle(), "Connect to your Dorvik");
    EXPECT_EQ(PortList(Dialog)->count(), 0);
    EXPECT_EQ(PortList(Dialog)->currentIndex(), -1);

    EXPECT_EQ(RunModal(Dialog, [&] { Click(Dialog, "btnOK"); }), QDialog::Accepted);
    EXPECT_EQ(Dialog.Port(), "");
}

TEST_F(ConnectionDlgTest, OffersTheAttachedReadersFirstOneChosen)
{
    Mock->Plug("1-1", "ttyUSB1");
    Mock->Plug("1-2", "ttyUSB0");
    Mock->Plug("1-3", "ttyUSB2", {"0403", "6001", "0600"});
    TConnectionDialog Dialog;
    EXPECT_EQ(Entries(Dialog), QStringList({"ttyUSB1", "ttyUSB0"}));
    EXPECT_EQ(Dialog.Port(), "ttyUSB1");

    // Enter in the list, where the focus starts, presses the default button.
    const int Result = RunModal(Dialog, [&] {
        EXPECT_EQ(Dialog.focusWidget(), PortList(Dialog));
        QTest::keyClick(PortList(Dialog), Qt::Key_Return);
    });
    EXPECT_EQ(Result, QDialog::Accepted);
    EXPECT_EQ(Dialog.Port(), "ttyUSB1");
}

TEST_F(ConnectionDlgTest, FollowsReadersPluggedAndRemovedWhileOpen)
{
    const TMockAdapter Second = Mock->Plug("1-2", "ttyUSB1");
    Mock->Plug("1-3", "ttyUSB2");
    TConnectionDialog Dialog;
    QComboBox* List = PortList(Dialog);

    const int Result = RunModal(Dialog, [&] {
        QTest::keyClick(List, Qt::Key_Down);
        ASSERT_EQ(Dialog.Port(), "ttyUSB2");
        Mock->Plug("1-1", "ttyUSB0");
        ASSERT_TRUE(WaitUntil([&] { return List->count() == 3; }));
        EXPECT_EQ(Entries(Dialog), QStringList({"ttyUSB0", "ttyUSB1", "ttyUSB2"}));
        EXPECT_EQ(Dialog.Port(), "ttyUSB0");

        // The chosen reader goes away.
        QTest::keyClick(List, Qt::Key_Down);
        ASSERT_EQ(Dialog.Port(), "ttyUSB1");
        Mock->Unplug(Second);
        ASSERT_TRUE(WaitUntil([&] { return List->count() == 2; }));
        EXPECT_EQ(Entries(Dialog), QStringList({"ttyUSB0", "ttyUSB2"}));
        EXPECT_EQ(Dialog.Port(), "ttyUSB0");
        Click(Dialog, "btnOK");
    });
    EXPECT_EQ(Result, QDialog::Accepted);
    EXPECT_EQ(Dialog.Port(), "ttyUSB0");
}

TEST_F(ConnectionDlgTest, RemovingTheOnlyReaderEmptiesTheChoice)
{
    const TMockAdapter Reader = Mock->Plug("1-1", "ttyUSB0");
    TConnectionDialog Dialog;
    ASSERT_EQ(Dialog.Port(), "ttyUSB0");

    const int Result = RunModal(Dialog, [&] {
        Mock->Unplug(Reader);
        ASSERT_TRUE(WaitUntil([&] { return PortList(Dialog)->count() == 0; }));
        Click(Dialog, "btnOK");
    });
    EXPECT_EQ(Result, QDialog::Accepted);
    EXPECT_EQ(Dialog.Port(), "");
}

TEST_F(ConnectionDlgTest, CancelAndTheCloseBoxGiveCancelEscapeNothing)
{
    Mock->Plug("1-1", "ttyUSB0");
    TConnectionDialog ByButton;
    const int ButtonResult = RunModal(ByButton, [&] {
        QTest::keyClick(PortList(ByButton), Qt::Key_Escape);
        QTest::keyClick(&ByButton, Qt::Key_Escape);
        EXPECT_TRUE(ByButton.isVisible());
        Click(ByButton, "btnCancel");
    });
    EXPECT_EQ(ButtonResult, QDialog::Rejected);

    TConnectionDialog ByCloseBox;
    EXPECT_EQ(RunModal(ByCloseBox, [&] { ByCloseBox.close(); }), QDialog::Rejected);
}

} // namespace

// An agent's door is offered by its name and connects through its socket; the closed list grows
// to show the longest entry whole, within the dialog.
TEST_F(ConnectionDlgTest, OffersTheAgentsDoorsByNameAndShowsLongEntriesWhole)
{
    QTemporaryDir Run;
    qputenv("RUNTIME_DIRECTORY", Run.path().toLocal8Bit());
    qputenv("DORVIK_EXTRA_PORTS", "rfc2217://front-door-controller.example.org:4001");
    const QString Socket = Run.filePath("front-door.sock");
    QFile(Socket).open(QIODevice::WriteOnly);
    WriteAgentDoors(Run.path(), {{"front-door", "Front door", "/dev/ttyUSB0", Socket}});
    Mock->Plug("1-1", "ttyUSB0");
    TConnectionDialog Dialog;
    qunsetenv("RUNTIME_DIRECTORY");
    qunsetenv("DORVIK_EXTRA_PORTS");
    EXPECT_EQ(Entries(Dialog), QStringList({"ttyUSB0", "rfc2217://front-door-controller.example.org:4001", "Front door (agent)"}));
    PortList(Dialog)->setCurrentIndex(2);
    EXPECT_EQ(Dialog.Port(), "unix:" + Socket);
    const QComboBox* List = PortList(Dialog);
    EXPECT_GT(List->width(), List->fontMetrics().horizontalAdvance(Entries(Dialog)[1]));
    EXPECT_LE(List->geometry().right(), Dialog.width());
}
