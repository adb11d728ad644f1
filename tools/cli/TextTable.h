#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// Rows as aligned columns, two spaces apart, the first row the header. Cells are made to stay
// on one line; trailing spaces are dropped. With NumberFirst, the first column is right-aligned.
QString TextTable(const std::vector<QStringList>& Rows, bool NumberFirst = false);
