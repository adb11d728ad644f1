#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// Rows as aligned columns, two spaces apart, the first row the header. Cells are made to stay
// on one line; trailing spaces are dropped. With NumberFirst, the first column is right-aligned.
QString TextTable(const std::vector<QStringList>& Rows, bool NumberFirst = false);

// The same table a row at a time, for rows too many to hold: Widen with every row first, then
// print each with TextTableRow.
void WidenTextTable(std::vector<qsizetype>& Width, const QStringList& Row);
QString TextTableRow(const QStringList& Row, const std::vector<qsizetype>& Width, bool NumberFirst = false);
