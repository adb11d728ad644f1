#pragma once

#include "common/CsvLine.h"

#include <QString>
#include <QStringList>

#include <vector>

// Comma-separated values as RFC 4180 has them: fields in double quotes may hold commas, line
// breaks and doubled quotes. Records end with CRLF when written (CsvLine); LF alone is accepted too.

struct TCsvRecord
{
    int Line = 0; // the line on which the record starts, from 1
    QStringList Fields;
};

// Splits Text into records. Lines that hold nothing are skipped. Raises ELineFault for a quote
// that is never closed or text between a closing quote and the next comma.
std::vector<TCsvRecord> ParseCsv(const QString& Text);
