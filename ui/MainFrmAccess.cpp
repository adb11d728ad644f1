#include "ui/MainFrmAccess.h"

#include "ui/CardListModel.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHeaderView>
#include <QKeySequence>
#include <QShortcut>
#include <QStyle>
#include <QToolButton>
#include <QTreeView>

namespace {

// Qt reports a top-level plain widget and a frame as fillers; a screen reader needs a window and
// two tool bars to tell the user where focus is.
QAccessibleInterface* RoleFactory(const QString& Class, QObject* Object)
{
    if (!Object || !Object->isWidgetType())
        return nullptr;
    auto* Widget = static_cast<QWidget*>(Object);
    if (Class == QLatin1String("TMainForm") || Class == QLatin1String("TActivityForm"))
        return new QAccessibleWidget(Widget, QAccessible::Window);
    if (Class == QLatin1String("QFrame") &&
        (Object->objectName() == QLatin1String("pnlLeft") || Object->objectName() == QLatin1String("pnlRight")))
        return new QAccessibleWidget(Widget, QAccessible::ToolBar);
    return nullptr;
}

void AddShortcut(QWidget& Form, const QKeySequence& Keys, const char* ButtonName, QWidget* Scope = nullptr)
{
    auto* Button = Form.findChild<QToolButton*>(QLatin1String(ButtonName));
    if (!Button)
        return;
    auto* Shortcut = new QShortcut(Keys, Scope ? Scope : &Form);
    if (Scope)
        Shortcut->setContext(Qt::WidgetShortcut);
    // Through the button, so a shortcut obeys the same enable rules as a click.
    QObject::connect(Shortcut, &QShortcut::activated, Button, [Button] {
        if (Button->isEnabled())
            Button->click();
    });
    const QString Text = Keys.toString(QKeySequence::NativeText);
    Button->setToolTip(Button->toolTip().isEmpty() ? Text : Button->toolTip() + " (" + Text + ")");
}

// A font wider than the one the window was drawn for would cut the largest card numbers; the
// Name column gives up what the number column needs.
void FitCardNumberColumn(QTreeView& List)
{
    List.ensurePolished();
    const int Margin = List.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &List) + 1;
    const int Needed = List.fontMetrics().horizontalAdvance(QLatin1String(WidestCardNumber)) + 2 * Margin + 8;
    QHeaderView* Header = List.header();
    const int Extra = Needed - Header->sectionSize(TCardListModel::colCardNumber);
    if (Extra <= 0)
        return;
    Header->resizeSection(TCardListModel::colCardNumber, Needed);
    Header->resizeSection(TCardListModel::colName,
                          std::max(Header->minimumSectionSize(), Header->sectionSize(TCardListModel::colName) - Extra));
}

} // namespace

void InstallAccessibleRoles()
{
    static const bool Installed = (QAccessible::installFactory(RoleFactory), true);
    (void)Installed;
}

void SetUpMainFormAccess(QWidget& Form)
{
    InstallAccessibleRoles();
    Form.setAccessibleName(Form.windowTitle());
    if (auto* Left = Form.findChild<QWidget*>(QStringLiteral("pnlLeft")))
        Left->setAccessibleName(QStringLiteral("Reader commands"));
    if (auto* Right = Form.findChild<QWidget*>(QStringLiteral("pnlRight")))
        Right->setAccessibleName(QStringLiteral("File and list commands"));

    auto* List = Form.findChild<QTreeView*>(QStringLiteral("lstCards"));
    AddShortcut(Form, QKeySequence(Qt::CTRL | Qt::Key_O), "btnLoadFromFile");
    AddShortcut(Form, QKeySequence(Qt::CTRL | Qt::Key_S), "btnSaveToFile");
    AddShortcut(Form, QKeySequence(Qt::Key_F5), "btnRead");
    AddShortcut(Form, QKeySequence(Qt::Key_F2), "sBitBtn1");
    if (List) {
        AddShortcut(Form, QKeySequence(Qt::Key_Delete), "btnDelete", List);
        List->setAccessibleName(QStringLiteral("Cards"));
        FitCardNumberColumn(*List);
    }
    auto* Quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), &Form);
    QObject::connect(Quit, &QShortcut::activated, &Form, &QWidget::close);
}
