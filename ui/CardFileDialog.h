#pragma once

#include <QFileDialog>

#include <memory>

// The file dialog for card database files. Saving into a folder that does not exist is refused
// here, as the dialog refuses a missing file when loading, so the user can correct it at once.
class TCardFileDialog : public QFileDialog
{
    Q_OBJECT

public:
    using QFileDialog::QFileDialog;

protected:
    void accept() override;
};

// The dialog that Save and Load open for card database files, in the current folder.
std::unique_ptr<QFileDialog> CardDatabaseDialog(QWidget* Parent, const QString& Title);
