#include "ui/MainFrm.h"

#include "common/Errors.h"
#include "reader/Dorvik.h"
#include "ui/ActivityFrm.h"
#include "ui/CardFileDialog.h"
#include "ui/MessageBoxes.h"

#include <QCloseEvent>

// Saving and loading card database files, and keeping what is in no file from going unasked.

void TMainForm::actSaveToFileExecute() { SaveToFile(); }

// The Save command; true when the file was written. A failed save is not caught here: the
// general error report shows it.
bool TMainForm::SaveToFile()
{
    auto Dialog = CardDatabaseDialog(this, QStringLiteral("Save card database to file"));
    Dialog->setAcceptMode(QFileDialog::AcceptSave);
    Dialog->setFileMode(QFileDialog::AnyFile);
    if (Dialog->exec() != QDialog::Accepted || Dialog->selectedFiles().isEmpty())
        return false;
    const QString FileName = Dialog->selectedFiles().first();
    FCardReader->SaveToFile(FileName);
    FFileName = FileName;
    MarkSaved(TUnsavedChanges::TPart::Everything);
    ShowInformation(this, QString::fromStdString(
                              Format("Succesfully saved %d cards to file.", FCardReader->Tags().Count())));
    return true;
}

void TMainForm::actLoadFromFileExecute()
{
    if (!MayDropChanges())
        return;
    auto Dialog = CardDatabaseDialog(this, QStringLiteral("Load card database from file"));
    Dialog->setAcceptMode(QFileDialog::AcceptOpen);
    Dialog->setFileMode(QFileDialog::ExistingFile);
    if (Dialog->exec() != QDialog::Accepted || Dialog->selectedFiles().isEmpty())
        return;
    const QString FileName = Dialog->selectedFiles().first();
    try {
        EndReadForUserAction();
        FCardReader->LoadFromFile(FileName);
        RefreshCardList();
        FFileName = FileName;
        MarkSaved(TUnsavedChanges::TPart::Everything);
        ShowInformation(this, QString::fromStdString(
                                  Format("Succesfully loaded %d cards from file.", FCardReader->Tags().Count())));
    } catch (const std::exception& Error) {
        ShowError(this, QString::fromUtf8(Error.what()));
    }
}

void TMainForm::MarkChanged(TUnsavedChanges::TPart What)
{
    FChanges.Changed(What);
    setWindowTitle(DocumentTitle(FBaseTitle, FFileName, FChanges.Any()));
}

void TMainForm::MarkSaved(TUnsavedChanges::TPart What)
{
    FChanges.Saved(What);
    setWindowTitle(DocumentTitle(FBaseTitle, FFileName, FChanges.Any()));
}

// Asks before unsaved changes go; true when they may (saved, or the user lets them go).
bool TMainForm::MayDropChanges()
{
    if (!FChanges.Any())
        return true;
    switch (AskSaveChanges(this)) {
    case TSaveChoice::Save:
        try {
            return SaveToFile();
        } catch (const std::exception& Error) {
            ReportException(Error);
            return false;
        }
    case TSaveChoice::Discard:
        return true;
    case TSaveChoice::Cancel:
        break;
    }
    return false;
}

void TMainForm::closeEvent(QCloseEvent* Event)
{
    if (!MayDropChanges()) {
        Event->ignore();
        return;
    }
    Event->accept();
    if (FActivity)
        FActivity->close(); // it belongs to this window and goes with it
    CloseLog();
}
