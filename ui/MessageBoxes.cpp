#include "ui/MessageBoxes.h"

#include "common/Errors.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

constexpr char ErrorReportName[] = "boxErrorReport";

enum class TButtons { Ok, OkCancel, YesNo, SaveDiscardCancel };

QString BoxText(const QString& Text) { return QString(Text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }

// Runs a box and tells which of its buttons was chosen, by position; the last one (the escape
// button) when the box went away unanswered. The box is on the heap behind a guard: should its
// parent be destroyed while it runs, the parent takes the box with it.
int RunBoxChoice(QWidget* Parent, QMessageBox::Icon Icon, const QString& Title, const QString& Text,
                 TButtons Buttons, const QString& ObjectName = QString(), QPointer<QMessageBox>* Track = nullptr)
{
    QPointer<QMessageBox> Box = new QMessageBox(Parent);
    if (Track)
        *Track = Box;
    struct TRelease
    {
        QPointer<QMessageBox>& Box;
        ~TRelease() { delete Box.data(); }
    } Release{Box};

    Box->setObjectName(ObjectName);
    Box->setIcon(Icon);
    Box->setWindowTitle(Title);
    Box->setTextFormat(Qt::PlainText);
    Box->setText(BoxText(Text));

    std::vector<std::pair<QString, QMessageBox::ButtonRole>> Captions;
    switch (Buttons) {
    case TButtons::Ok:
        Captions = {{"OK", QMessageBox::AcceptRole}};
        break;
    case TButtons::OkCancel:
        Captions = {{"OK", QMessageBox::AcceptRole}, {"Cancel", QMessageBox::RejectRole}};
        break;
    case TButtons::YesNo:
        Captions = {{"&Yes", QMessageBox::YesRole}, {"&No", QMessageBox::NoRole}};
        break;
    case TButtons::SaveDiscardCancel:
        Captions = {{"&Save", QMessageBox::AcceptRole},
                    {"&Discard", QMessageBox::DestructiveRole},
                    {"Cancel", QMessageBox::RejectRole}};
        break;
    }
    std::vector<QPushButton*> Added;
    for (const auto& [Caption, Role] : Captions)
        Added.push_back(Box->addButton(Caption, Role));
    Box->setDefaultButton(Added.front());
    Box->setEscapeButton(Added.back());

    Box->exec();
    const int Last = int(Added.size()) - 1;
    if (!Box)
        return Last;
    const auto Chosen = std::find(Added.begin(), Added.end(), Box->clickedButton());
    return Chosen == Added.end() ? Last : int(Chosen - Added.begin());
}

// Whether the positive button of a box with a choice was chosen.
bool RunBox(QWidget* Parent, QMessageBox::Icon Icon, const QString& Title, const QString& Text,
            TButtons Buttons, const QString& ObjectName = QString(), QPointer<QMessageBox>* Track = nullptr)
{
    const int Chosen = RunBoxChoice(Parent, Icon, Title, Text, Buttons, ObjectName, Track);
    return Buttons != TButtons::Ok && Chosen == 0;
}

bool ErrorReportOpen()
{
    const QWidgetList Windows = QApplication::topLevelWidgets();
    return std::any_of(Windows.begin(), Windows.end(), [](const QWidget* W) {
        return W->isVisible() && W->objectName() == QLatin1String(ErrorReportName);
    });
}

} // namespace

void ShowInformation(QWidget* Parent, const QString& Text)
{
    RunBox(Parent, QMessageBox::Information, QStringLiteral("Information"), Text, TButtons::Ok);
}

void ShowError(QWidget* Parent, const QString& Text)
{
    RunBox(Parent, QMessageBox::Critical, QStringLiteral("Error"), Text, TButtons::Ok);
}

void ShowErrorOnce(QPointer<QMessageBox>& Open, QWidget* Parent, const QString& Text)
{
    if (Open && Open->isVisible()) {
        Open->setText(BoxText(Text));
        return;
    }
    RunBox(Parent, QMessageBox::Critical, QStringLiteral("Error"), Text, TButtons::Ok, QString(), &Open);
}

void ShowNotice(QPointer<QMessageBox>& Open, QWidget* Parent, const QString& Title, const QString& Text)
{
    if (!Open) {
        Open = new QMessageBox(Parent);
        Open->setObjectName(QStringLiteral("boxNotice"));
        Open->setIcon(QMessageBox::Warning);
        Open->setTextFormat(Qt::PlainText);
        Open->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        Open->setWindowModality(Qt::NonModal);
        Open->setAttribute(Qt::WA_DeleteOnClose);
        Open->setAttribute(Qt::WA_ShowWithoutActivating); // the user's typing goes on where it was
    }
    Open->setWindowTitle(Title);
    Open->setText(BoxText(Text));
    Open->show();
}

bool AskOkCancel(QWidget* Parent, const QString& Text)
{
    return RunBox(Parent, QMessageBox::Information, QStringLiteral("Information"), Text, TButtons::OkCancel);
}

TSaveChoice AskSaveChanges(QWidget* Parent)
{
    const int Chosen = RunBoxChoice(Parent, QMessageBox::Information, QStringLiteral("Information"),
                                    QStringLiteral("Save changes to the card database?"),
                                    TButtons::SaveDiscardCancel);
    return TSaveChoice(Chosen);
}

bool AskYesNo(QWidget* Parent, const QString& Text)
{
    return RunBox(Parent, QMessageBox::Information, QStringLiteral("Information"), Text, TButtons::YesNo);
}

void ShowErrorReport(const std::exception& E)
{
    const std::string Text = ReportText(E.what());
    // Errors that keep coming (a reader sending garbage) must not pile up boxes on the screen.
    if (ErrorReportOpen()) {
        std::fprintf(stderr, "%s: %s\n", ApplicationTitle, Text.c_str());
        return;
    }
    // No parent: the window that was active may be gone before the user answers.
    RunBox(nullptr, QMessageBox::Critical, QString::fromLatin1(ApplicationTitle),
           QString::fromStdString(Text), TButtons::Ok, QString::fromLatin1(ErrorReportName));
}

void InstallErrorReport() { SetExceptionReporter(ShowErrorReport); }
