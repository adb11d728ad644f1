#pragma once

#include "log/LogQuery.h"

#include <QString>

#include <memory>

class QFileDialog;
class QWidget;
class TAccessLog;

// Writes every swipe of Log that Query picks, whatever its Limit, newest first, to FileName as
// `dorvik-cli log --format csv` does. Returns how many; raises Exception saying what failed,
// and then leaves a file already there as it was.
int ExportSwipes(const TAccessLog& Log, TLogQuery Query, const QString& FileName);

// The dialog in which Export asks for the CSV file, in the current folder.
std::unique_ptr<QFileDialog> ExportDialog(QWidget* Parent);
