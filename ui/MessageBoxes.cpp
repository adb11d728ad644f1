#include "ui/MessageBoxes.h"

#include "common/Errors.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <algorithm>
#include <cstdio>

namespace {

constexpr char ErrorReportName[] = "boxErrorReport";

enum class TButtons { Ok, OkCancel, YesNo };

// Runs a box and tells whether its positive button was chosen. The box is on the heap behind a
// guard: should its parent be destroyed while it runs, the parent takes the box with it.
QString BoxText(const QString& Text) { return QString(Text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }

bool RunBox(QWidget* Parent, QMessageBox::Icon Icon, const QString& Title, const QString& Text,
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

    QPushButton* Positive = nullptr;
    QPushButton* Negative = nullptr;
    switch (Buttons) {
    case TButtons::Ok:
        Positive = Box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        Negative = Positive;
        break;
    case TButtons::OkCancel:
        Positive = Box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        Negative = Box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
        break;
    case TButtons::YesNo:
        Positive = Box->addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
        Negative = Box->addButton(QStringLiteral("&No"), QMessageBox::NoRole);
        break;
    }
    Box->setDefaultButton(Positive);
    Box->setEscapeButton(Negative);

    Box->exec();
    return Box && Box->clickedButton() == Positive && Positive != Negative;
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

bool AskOkCancel(QWidget* Parent, const QString& Text)
{
    return RunBox(Parent, QMessageBox::Information, QStringLiteral("Information"), Text, TButtons::OkCancel);
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
