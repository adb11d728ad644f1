#pragma once

#include <QString>
#include <QStringList>

// One record of comma-separated values as RFC 4180 has it, ended by CRLF: a field that holds a
// comma, a quote or a line break is quoted, its quotes doubled.
QString CsvLine(const QStringList& Fields);
