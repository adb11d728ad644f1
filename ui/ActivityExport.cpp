#include "ui/ActivityExport.h"

#include "common/Errors.h"
#include "log/AccessLog.h"
#include "log/SwipeCsv.h"
#include "ui/CardFileDialog.h"

#include <QDir>
#include <QSaveFile>

int ExportSwipes(const TAccessLog& Log, TLogQuery Query, const QString& FileName)
{
    QSaveFile File(FileName);
    const auto Fail = [&](const QString& Why) {
        File.cancelWriting();
        throw Exception(Why.toStdString());
    };
    if (!File.open(QIODevice::WriteOnly))
        Fail(QStringLiteral("Cannot write %1: %2").arg(FileName, File.errorString()));
    File.write(SwipeCsvHeader().toUtf8());
    Query.Limit = 0;
    int Count = 0;
    const QString Error = Log.ForEach(LogStatement(Query), [&](const TSwipeRecord& Swipe) {
        ++Count;
        return File.write(SwipeCsvLine(Swipe).toUtf8()) >= 0;
    });
    if (!Error.isEmpty())
        Fail(Error);
    if (!File.commit())
        Fail(QStringLiteral("Cannot write %1: %2").arg(FileName, File.errorString()));
    return Count;
}

std::unique_ptr<QFileDialog> ExportDialog(QWidget* Parent)
{
    // The card file dialog's checks (a missing folder is refused at once) with CSV's filters.
    auto Dialog = std::make_unique<TCardFileDialog>(Parent, QStringLiteral("Export activity"), QDir::currentPath());
    Dialog->setObjectName(QStringLiteral("dlgExportActivity"));
    Dialog->setOption(QFileDialog::DontUseNativeDialog);
    Dialog->setAcceptMode(QFileDialog::AcceptSave);
    Dialog->setFileMode(QFileDialog::AnyFile);
    Dialog->setNameFilters({QStringLiteral("CSV files (*.csv)"), QStringLiteral("All files (*)")});
    Dialog->setDefaultSuffix(QStringLiteral("csv"));
    Dialog->selectFile(QStringLiteral("activity.csv"));
    return Dialog;
}
