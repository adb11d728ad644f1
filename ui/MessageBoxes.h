#pragma once

#include <QPointer>
#include <QString>

#include <exception>

class QMessageBox;
class QWidget;

// The application title: the title of the general error report.
inline constexpr char ApplicationTitle[] = "Dorvik";

// Message boxes of every window. Each runs modally over Parent (none: over the application) and
// shows Text as plain text; "\r\n" in a text is a line break.

// "Information", information icon, "OK".
void ShowInformation(QWidget* Parent, const QString& Text);
// "Error", error icon, "OK".
void ShowError(QWidget* Parent, const QString& Text);
// An error box for one subject: while the box that Open follows is still up, Text replaces its
// text; otherwise a new one runs and Open follows it.
void ShowErrorOnce(QPointer<QMessageBox>& Open, QWidget* Parent, const QString& Text);
// A warning beside the windows, not over them: Title, warning icon, "OK"; it blocks nothing.
// While the box that Open follows is still up, Text replaces its text.
void ShowNotice(QPointer<QMessageBox>& Open, QWidget* Parent, const QString& Title, const QString& Text);
// "Information", information icon, "OK" and "Cancel"; true only when OK was chosen (Escape and
// the close button answer Cancel).
bool AskOkCancel(QWidget* Parent, const QString& Text);
// "Save changes to the card database?" with "&Save", "&Discard" and "Cancel" (also Escape and
// the close button), before unsaved changes would be dropped.
enum class TSaveChoice { Save, Discard, Cancel };
TSaveChoice AskSaveChanges(QWidget* Parent);
// "Information", information icon, "&Yes" and "&No"; true only when Yes was chosen.
bool AskYesNo(QWidget* Parent, const QString& Text);

// The application's general error report: a box titled with the application title, error icon,
// "OK", showing ReportText of the error's message (UTF-8). While one report is open, further
// reports are not stacked on top of it: they are dropped and only written to stderr.
void ShowErrorReport(const std::exception& E);

// Makes ShowErrorReport the reporter of ReportException (common/Errors.h).
void InstallErrorReport();
