#include "ui/UnsavedChanges.h"

#include <QFileInfo>

void TUnsavedChanges::Changed(TPart What)
{
    (What == TPart::Names ? FNames : FCards) = true;
}

void TUnsavedChanges::Saved(TPart What)
{
    if (What != TPart::Names)
        FCards = false;
    if (What != TPart::Cards)
        FNames = false;
}

QString DocumentTitle(const QString& Base, const QString& FileName, bool Unsaved)
{
    QString Title = Base;
    if (!FileName.isEmpty())
        Title = QFileInfo(FileName).fileName() + QStringLiteral(" - ") + Title;
    if (Unsaved)
        Title.prepend(QLatin1Char('*'));
    return Title;
}
