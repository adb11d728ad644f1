#include "tools/cli/TextTable.h"

#include <algorithm>

namespace {

// A table cell stays on one line whatever a name holds.
QString OneLine(QString Text)
{
    Text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    Text.replace(u'\n', u' ').replace(u'\r', u' ').replace(u'\t', u' ');
    return Text;
}

} // namespace

void WidenTextTable(std::vector<qsizetype>& Width, const QStringList& Row)
{
    Width.resize(std::max(Width.size(), size_t(Row.size())));
    for (qsizetype C = 0; C < Row.size(); ++C)
        Width[size_t(C)] = std::max(Width[size_t(C)], OneLine(Row[C]).size());
}

QString TextTableRow(const QStringList& Row, const std::vector<qsizetype>& Width, bool NumberFirst)
{
    QString Line;
    for (qsizetype C = 0; C < Row.size(); ++C) {
        const QString Cell = OneLine(Row[C]);
        const qsizetype W = size_t(C) < Width.size() ? Width[size_t(C)] : 0;
        Line += (C > 0 ? QStringLiteral("  ") : QString()) +
                (C == 0 && NumberFirst ? Cell.rightJustified(W) : Cell.leftJustified(W));
    }
    while (Line.endsWith(u' '))
        Line.chop(1);
    return Line + u'\n';
}

QString TextTable(const std::vector<QStringList>& Rows, bool NumberFirst)
{
    std::vector<qsizetype> Width;
    for (const QStringList& Row : Rows)
        WidenTextTable(Width, Row);
    QString Text;
    for (const QStringList& Row : Rows)
        Text += TextTableRow(Row, Width, NumberFirst);
    return Text;
}
