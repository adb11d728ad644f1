#include "common/CsvLine.h"

namespace {

QString CsvField(const QString& Field)
{
    const bool NeedsQuotes = Field.contains(u',') || Field.contains(u'"') || Field.contains(u'\r') ||
                             Field.contains(u'\n');
    if (!NeedsQuotes)
        return Field;
    QString Quoted = Field;
    Quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + Quoted + u'"';
}

} // namespace

QString CsvLine(const QStringList& Fields)
{
    QStringList Quoted;
    for (const QString& Field : Fields)
        Quoted.append(CsvField(Field));
    return Quoted.join(u',') + QStringLiteral("\r\n");
}
