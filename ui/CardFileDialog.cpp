#include "ui/CardFileDialog.h"

#include <QFileInfo>
#include <QMessageBox>

namespace {

const char CardDatabaseFilter[] = "Dorvik Card Database (*.tdb)|*.tdb|All files (*.*)|*.*";

// "Label|pattern|Label|pattern" as the file dialog's name filters. Qt reads the patterns from
// the label's parentheses; "*.*" means every file here, not only names with a dot.
QStringList NameFilters(const QString& Pairs)
{
    const QStringList Parts = Pairs.split('|');
    QStringList Filters;
    for (int I = 0; I + 1 < Parts.size(); I += 2) {
        QString Label = Parts[I];
        const QString Pattern = Parts[I + 1] == "*.*" ? QStringLiteral("*") : Parts[I + 1];
        Label.replace("(" + Parts[I + 1] + ")", "(" + Pattern + ")");
        Filters << Label;
    }
    return Filters;
}

} // namespace

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

std::unique_ptr<QFileDialog> CardDatabaseDialog(QWidget* Parent, const QString& Title)
{
    auto Dialog = std::make_unique<TCardFileDialog>(Parent, Title, QDir::currentPath());
    Dialog->setObjectName(QStringLiteral("dlgCardDatabase"));
    Dialog->setOption(QFileDialog::DontUseNativeDialog);
    Dialog->setNameFilters(NameFilters(CardDatabaseFilter));
    Dialog->selectNameFilter(Dialog->nameFilters().first());
    Dialog->setDefaultSuffix(QStringLiteral("tdb"));
    return Dialog;
}
