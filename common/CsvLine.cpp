#include "common/CsvLine.h"

namespace {

bool StartsFormula(QStringView Field)
{
    static const QString Starts = QStringLiteral("=+-@\t\r");
    while (Field.startsWith(u'\''))
        Field = Field.mid(1);
    return !Field.isEmpty() && Starts.contains(Field.front());
}

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

QString CsvGuard(const QString& Field) { return StartsFormula(Field) ? u'\'' + Field : Field; }

QString CsvUnguard(const QString& Field)
{
    return Field.startsWith(u'\'') && StartsFormula(Field) ? Field.mid(1) : Field;
}

QString CsvLine(const QStringList& Fields)
{
    QStringList Quoted;
    for (const QString& Field : Fields)
        Quoted.append(CsvField(CsvGuard(Field)));
    return Quoted.join(u',') + QStringLiteral("\r\n");
}
