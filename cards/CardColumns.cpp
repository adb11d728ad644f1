#include "cards/CardColumns.h"

#include "cards/NameText.h"
#include "common/LineFault.h"

#include <optional>

namespace {

// Decimal digits only: a sign, a fraction or a hex prefix is a mistake in this column.
std::optional<uint32_t> CardValue(const QString& Field)
{
    const QString Text = Field.trimmed();
    if (Text.isEmpty() || Text.size() > 10)
        return std::nullopt;
    uint64_t Value = 0;
    for (const QChar C : Text) {
        if (C < u'0' || C > u'9')
            return std::nullopt;
        Value = Value * 10 + uint64_t(C.unicode() - u'0');
    }
    if (Value > 0xFFFFFFFFu)
        return std::nullopt;
    return uint32_t(Value);
}

bool IsMaster(const TCsvRecord& Row)
{
    const QString Text = Row.Fields.value(2).trimmed();
    if (Text.isEmpty())
        return false;
    if (Text.compare(u"yes", Qt::CaseInsensitive) == 0)
        return true;
    throw ELineFault(Row.Line, QStringLiteral("master must be \"yes\" or empty, not \"%1\"").arg(Text));
}

} // namespace

const QStringList& CardColumnsHeader()
{
    static const QStringList Header = {QStringLiteral("card"), QStringLiteral("name"), QStringLiteral("master")};
    return Header;
}

bool StartsWithCardColumns(const QStringList& Fields)
{
    const QStringList& Header = CardColumnsHeader();
    if (Fields.size() < Header.size())
        return false;
    for (qsizetype I = 0; I < Header.size(); ++I) {
        if (Fields[I].trimmed().compare(Header[I], Qt::CaseInsensitive) != 0)
            return false;
    }
    return true;
}

TCardColumns CardColumnsOf(const TCsvRecord& Row)
{
    const std::optional<uint32_t> Value = CardValue(Row.Fields.value(0));
    if (!Value)
        throw ELineFault(Row.Line, QStringLiteral("card \"%1\" is not a number from 0 to 4294967295").arg(Row.Fields.value(0)));
    TCardColumns Card;
    Card.Tag.Bytes = {0, uint8_t(*Value >> 24), uint8_t(*Value >> 16), uint8_t(*Value >> 8), uint8_t(*Value)};
    Card.Tag.Name = TextToName(CsvUnguard(Row.Fields.value(1))); // as CsvLine wrote it
    Card.Master = IsMaster(Row);
    return Card;
}
