#pragma once

#include <QString>
#include <QStringList>

// One record of comma-separated values as RFC 4180 has it, ended by CRLF: a field that holds a
// comma, a quote or a line break is quoted, its quotes doubled. Every field goes through
// CsvGuard first: each CSV the programs write is one a person may open in a spreadsheet.
QString CsvLine(const QStringList& Fields);

// A spreadsheet runs a cell that starts with = + - @ (or a tab or CR before them) as a formula,
// quoted or not: a card named =HYPERLINK(...) would run when the file is opened. Such a field,
// and one that is such a field with apostrophes before it, gets one more apostrophe in front,
// which spreadsheets take as "text" and do not show. CsvUnguard takes exactly that apostrophe
// off again, so that writing and reading a file gives every name back as it was.
QString CsvGuard(const QString& Field);
QString CsvUnguard(const QString& Field);
