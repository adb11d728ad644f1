#include "tools/cli/CardCsv.h"

#include "tools/cli/Csv.h"
#include "cards/NameText.h"

#include "common/Errors.h"

#include <QHash>

#include <optional>

namespace {

const QStringList Header = {QStringLiteral("card"), QStringLiteral("name"), QStringLiteral("master")};

[[noreturn]] void Fail(int Line, const QString& What)
{
    throw Exception(QStringLiteral("line %1: %2").arg(Line).arg(What).toStdString());
}

bool IsHeader(const QStringList& Fields)
{
    if (Fields.size() != Header.size())
        return false;
    for (qsizetype I = 0; I < Fields.size(); ++I) {
        if (Fields[I].trimmed().compare(Header[I], Qt::CaseInsensitive) != 0)
            return false;
    }
    return true;
}

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
    Fail(Row.Line, QStringLiteral("master must be \"yes\" or empty, not \"%1\"").arg(Text));
}

} // namespace

QString CardsToCsv(const TRfidTags& Tags, uint32_t Master)
{
    QString Text = CsvLine(Header);
    for (int I = 0; I < Tags.Count(); ++I) {
        const TRfidTag& Tag = Tags.Items(I);
        Text += CsvLine({QString::number(Tag.CardValue()), NameToText(Tag.Name),
                         uint32_t(I) == Master ? QStringLiteral("yes") : QString()});
    }
    return Text;
}

TLoadedCardDatabase CardsFromCsv(const QString& Text)
{
    const std::vector<TCsvRecord> Records = ParseCsv(Text);
    if (Records.empty() || !IsHeader(Records.front().Fields))
        Fail(Records.empty() ? 1 : Records.front().Line, QStringLiteral("the first line must be the header card,name,master"));

    TLoadedCardDatabase Result;
    QHash<uint32_t, int> LineOfCard;
    int MasterLine = 0;
    for (size_t R = 1; R < Records.size(); ++R) {
        const TCsvRecord& Row = Records[R];
        if (Row.Fields.size() < 2 || Row.Fields.size() > 3)
            Fail(Row.Line, QStringLiteral("%1 fields, expected card,name,master").arg(Row.Fields.size()));
        const std::optional<uint32_t> Value = CardValue(Row.Fields[0]);
        if (!Value)
            Fail(Row.Line, QStringLiteral("card \"%1\" is not a number from 0 to 4294967295").arg(Row.Fields[0]));
        if (LineOfCard.contains(*Value))
            Fail(Row.Line, QStringLiteral("card %1 is already on line %2").arg(*Value).arg(LineOfCard[*Value]));
        LineOfCard.insert(*Value, Row.Line);
        if (IsMaster(Row)) {
            if (MasterLine)
                Fail(Row.Line, QStringLiteral("a second master card (the first is on line %1)").arg(MasterLine));
            // The file keeps the master's position in one byte.
            if (Result.Tags.Count() > 255)
                Fail(Row.Line, QStringLiteral("the master card must be one of the first 256 cards"));
            MasterLine = Row.Line;
            Result.Master = uint32_t(Result.Tags.Count());
        }
        TRfidTag& Tag = Result.Tags.Add();
        Tag.Bytes = {0, uint8_t(*Value >> 24), uint8_t(*Value >> 16), uint8_t(*Value >> 8), uint8_t(*Value)};
        Tag.Name = TextToName(CsvUnguard(Row.Fields[1]));
    }
    return Result;
}
