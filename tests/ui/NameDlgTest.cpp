#include "ui/NameDlg.h"

#include "support/ModalHelper.h"

#include <QLineEdit>

#include <gtest/gtest.h>

namespace {

struct TNameRun
{
    int Result = -1;
    QString Name;
    QString SelectedOnOpen;
    bool EditHadFocus = false;
};

// Opens a name dialog holding Name, notes what it showed, then lets Action type and close.
TNameRun RunNameDialog(const QString& Name, const std::function<void(QWidget*, QLineEdit*)>& Action)
{
    TNameDialog Dialog(nullptr);
    Dialog.SetCardName(Name);
    TNameRun Run;
    auto Answer = AnswerNextModal([&](QWidget* Modal) {
        auto* Edit = Modal->findChild<QLineEdit*>("txtName");
        ASSERT_NE(Edit, nullptr);
        Run.EditHadFocus = Modal->focusWidget() == Edit;
        Run.SelectedOnOpen = Edit->selectedText();
        Action(Modal, Edit);
    });
    Run.Result = Dialog.exec();
    EXPECT_TRUE(Answer->Answered());
    Run.Name = Dialog.CardName();
    return Run;
}

TEST(NameDialog, OpensWithTheWholeNameSelectedSoTypingReplacesIt)
{
    const TNameRun Run = RunNameDialog("Front door", [](QWidget*, QLineEdit* Edit) {
        QTest::keyClicks(Edit, "Garage");
        QTest::keyClick(Edit, Qt::Key_Return);
    });
    EXPECT_TRUE(Run.EditHadFocus);
    EXPECT_EQ(Run.SelectedOnOpen, "Front door");
    EXPECT_EQ(Run.Result, QDialog::Accepted);
    EXPECT_EQ(Run.Name, "Garage");
}

TEST(NameDialog, AnEmptiedNameIsConfirmedAsEmpty)
{
    const TNameRun Run = RunNameDialog("Front door", [](QWidget* Modal, QLineEdit* Edit) {
        QTest::keyClick(Edit, Qt::Key_Delete);
        ClickButton(Modal, "&OK");
    });
    EXPECT_EQ(Run.Result, QDialog::Accepted);
    EXPECT_EQ(Run.Name, "");
}

TEST(NameDialog, CancelAndTheCloseButtonGiveCancel)
{
    EXPECT_EQ(RunNameDialog("Front door", [](QWidget* Modal, QLineEdit*) { ClickButton(Modal, "&Cancel"); }).Result,
              QDialog::Rejected);
    EXPECT_EQ(RunNameDialog("Front door", [](QWidget* Modal, QLineEdit*) { Modal->close(); }).Result,
              QDialog::Rejected);
}

TEST(NameDialog, TakesLongNamesWhole)
{
    TNameDialog Dialog(nullptr);
    const QString Long(40000, QChar(u'é'));
    Dialog.SetCardName(Long);
    EXPECT_EQ(Dialog.CardName(), Long);
}

} // namespace
