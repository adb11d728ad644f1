#include "support/MainFormDriver.h"
#include "support/ModalHelper.h"
#include "ui/ActivityFrm.h"
#include "ui/CardListModel.h"
#include "ui/CardSwipeFrm.h"
#include "ui/ConnectionDlg.h"
#include "ui/DoorConfigDlg.h"
#include "ui/MainFrmAccess.h"
#include "ui/NameDlg.h"
#include "ui/Skin.h"

#include <QAccessible>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QRadioButton>

namespace {

QString Describe(QWidget* W) { return W->window()->objectName() + "." + W->objectName(); }

// The focusable controls of Window in tab order, from First round the chain.
QStringList TabOrder(QWidget* First)
{
    QStringList Order;
    QWidget* W = First;
    do {
        if ((W->focusPolicy() & Qt::TabFocus) && W->isVisibleTo(First->window()) && W->window() == First->window())
            Order << W->objectName();
        W = W->nextInFocusChain();
    } while (W != First);
    return Order;
}

// What a screen reader needs of every focusable control: a name, and for an input, a label.
void ExpectEveryControlNamed(QWidget& Window)
{
    for (QWidget* W : Window.findChildren<QWidget*>()) {
        if (!(W->focusPolicy() & Qt::TabFocus) || !W->isVisibleTo(&Window) || W->objectName().startsWith("qt_"))
            continue;
        QAccessibleInterface* A = QAccessible::queryAccessibleInterface(W);
        ASSERT_NE(A, nullptr) << Describe(W).toStdString();
        EXPECT_FALSE(A->text(QAccessible::Name).remove('&').trimmed().isEmpty()) << Describe(W).toStdString();
        if (A->role() == QAccessible::EditableText || A->role() == QAccessible::ComboBox)
            EXPECT_FALSE(A->relations(QAccessible::Label).isEmpty()) << Describe(W).toStdString() << " has no label";
    }
}

class Accessibility : public MainFormDriver
{
};

TEST_F(Accessibility, EveryWindowIsNamedLabelledAndInTheGivenTabOrder)
{
    struct TCase
    {
        QWidget* Window;
        const char* First;
        QStringList Order;
    };
    TDoorConfigDialog Door(Form.get());
    TConnectionDialog Connection(Form.get());
    TNameDialog Name(Form.get());
    TCardSwipeForm Swipe(Form.get());
    TActivityForm Activity(Form.get());
    const TCase Cases[] = {
        {&Door, "btnOK", {"btnOK", "btnCancel", "chkLockUnlock", "chkMomentary", "chkUnlockTimed", "txtDelay"}},
        {&Connection, "cbPort", {"cbPort", "btnOK", "btnCancel"}},
        {&Name, "btnOK", {"btnOK", "btnCancel", "txtName"}},
        {&Swipe, "btnAddToDatabase", {"btnAddToDatabase", "btnIgnore"}},
        {&Activity, "txtSearch", {"txtSearch", "lstActivity", "btnExport"}},
    };
    for (const TCase& C : Cases) {
        C.Window->show();
        ExpectEveryControlNamed(*C.Window);
        EXPECT_EQ(TabOrder(C.Window->findChild<QWidget*>(C.First)).mid(0, C.Order.size()), C.Order)
            << C.Window->objectName().toStdString();
        C.Window->hide();
    }
    ExpectEveryControlNamed(*Form);

    const std::pair<QObject*, QAccessible::Role> Roles[] = {
        {Form.get(), QAccessible::Window},
        {Form->findChild<QWidget*>("pnlLeft"), QAccessible::ToolBar},
        {Form->findChild<QWidget*>("pnlRight"), QAccessible::ToolBar},
        {List(), QAccessible::Tree},
        {Button("btnRead"), QAccessible::Button},
        {Door.findChild<QWidget*>("chkMomentary"), QAccessible::RadioButton},
        {Door.findChild<QWidget*>("txtDelay"), QAccessible::EditableText},
        {Connection.findChild<QWidget*>("cbPort"), QAccessible::ComboBox},
        {&Activity, QAccessible::Window},
        {Activity.findChild<QWidget*>("lstActivity"), QAccessible::Tree},
        {Activity.findChild<QWidget*>("txtSearch"), QAccessible::EditableText},
    };
    for (const auto& [Object, Role] : Roles) {
        QAccessibleInterface* A = QAccessible::queryAccessibleInterface(Object);
        ASSERT_NE(A, nullptr);
        EXPECT_EQ(A->role(), Role) << Object->objectName().toStdString();
        EXPECT_FALSE(A->text(QAccessible::Name).isEmpty()) << Object->objectName().toStdString();
    }
}

TEST_F(Accessibility, NumberColumnHeaderReadsAsCardNumberAndLooksAsBefore)
{
    EXPECT_EQ(Model()->headerData(TCardListModel::colCardNumber, Qt::Horizontal).toString(), QString("Cardn\u00B0"));
    QAccessibleInterface* Tree = QAccessible::queryAccessibleInterface(List());
    ASSERT_NE(Tree, nullptr);
    ASSERT_NE(Tree->tableInterface(), nullptr);
    QAccessibleInterface* Header = Tree->child(TCardListModel::colCardNumber);
    ASSERT_NE(Header, nullptr);
    EXPECT_EQ(Header->role(), QAccessible::ColumnHeader);
    EXPECT_EQ(Header->text(QAccessible::Name), "Card number");
}

TEST(DoorAccessibility, RadioButtonsMoveWithTheArrowKeys)
{
    TDoorConfigDialog Door(nullptr);
    QStringList Checked;
    auto Answer = AnswerNextModal([&](QWidget* Modal) {
        auto* First = Modal->findChild<QRadioButton*>("chkLockUnlock");
        First->setFocus();
        for (int I = 0; I < 2; ++I) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
            Checked << QApplication::focusWidget()->objectName();
        }
        Modal->close();
    });
    Door.exec();
    EXPECT_EQ(Checked, QStringList({"chkMomentary", "chkUnlockTimed"}));
    EXPECT_EQ(Door.Mode(), dmUnlockTimed);
}

TEST_F(Accessibility, ShortcutsRunTheirCommandsAndShowInTooltips)
{
    AddCards(2);
    List()->setFocus();
    Form->activateWindow();
    Settle();
    List()->selectionModel()->select(Model()->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    Settle();
    struct TCase
    {
        QKeySequence Keys;
        const char* Button;
        const char* Tooltip;
        const char* WindowTitle;
    };
    const TCase Cases[] = {
        {QKeySequence("Ctrl+O"), "btnLoadFromFile", "Load database from file (Ctrl+O)", "Load card database from file"},
        {QKeySequence("Ctrl+S"), "btnSaveToFile", "Save database to file (Ctrl+S)", "Save card database to file"},
        {QKeySequence("F2"), "sBitBtn1", "F2", "Edit name"},
        {QKeySequence("Del"), "btnDelete", "Delete the selected card (Del)", "Information"},
    };
    for (const TCase& C : Cases) {
        EXPECT_EQ(Button(C.Button)->toolTip(), C.Tooltip);
        QString Seen;
        TModalScript Script({[&](QWidget* Modal) {
            Seen = Modal->windowTitle();
            Modal->close();
        }});
        Form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
        List()->setFocus();
        QTest::keySequence(List(), C.Keys);
        EXPECT_TRUE(WaitUntil([&] { return Script.Done() && !QApplication::activeModalWidget(); })) << C.Button;
        EXPECT_EQ(Seen, C.WindowTitle) << C.Button;
    }
    EXPECT_EQ(Button("btnRead")->toolTip(), "Read in cards from your Dorvik to your computer (F5)");
    EXPECT_EQ(Button("btnRead")->text(), "&Read");
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    QTest::keySequence(List(), QKeySequence("Ctrl+Q"));
    EXPECT_FALSE(Form->isVisible());
}

TEST_F(Accessibility, LongestCardNumberFitsItsColumnUnelided)
{
    AddCards(1);
    TRfidTag& Widest = Reader().Tags().Items(0);
    Widest.Bytes = {0, 0xFF, 0xFF, 0xFF, 0xFF};
    Form->RefreshCardList();
    ASSERT_EQ(Cell(0, TCardListModel::colCardNumber), WidestCardNumber);
    const QRect Cell = List()->visualRect(Model()->index(0, TCardListModel::colCardNumber));
    const int Margin = List()->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, List()) + 1;
    const QString Text = QString::fromLatin1(WidestCardNumber);
    EXPECT_EQ(List()->fontMetrics().elidedText(Text, Qt::ElideRight, Cell.width() - 2 * Margin), Text);
    const QHeaderView* Header = List()->header();
    int Total = 0;
    for (int C = 0; C < TCardListModel::ColumnCount; ++C)
        Total += Header->sectionSize(C);
    EXPECT_LE(Total, List()->viewport()->width()) << "the Name column gave up the width";
}

} // namespace
