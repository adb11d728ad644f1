#include "ui/CardFileDialog.h"

#include <QFileInfo>
#include <QMessageBox>

void TCardFileDialog::accept()
{
    const QStringList Files = selectedFiles();
    if (acceptMode() == AcceptSave && !Files.isEmpty()) {
        const QFileInfo Chosen(Files.first());
        if (!Chosen.isDir() && !Chosen.absoluteDir().exists()) {
            QMessageBox::warning(this, windowTitle(),
                                 tr("%1\nFolder not found.\nPlease verify the correct folder name was given.")
                                     .arg(Chosen.absolutePath()));
            return;
        }
    }
    QFileDialog::accept();
}
