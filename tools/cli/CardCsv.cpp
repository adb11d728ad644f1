#include "tools/cli/CardCsv.h"

#include "cards/CardColumns.h"
#include "cards/NameText.h"

#include "common/LineFault.h"

#include <QHash>

namespace {

[[noreturn]] void Fail(int Line, const QString& What) { throw ELineFault(Line, What); }

bool IsHeader(const QStringList& Fields) { return Fields.size() == CardColumnsHeader().size() && StartsWithCardColumns(Fields); }

} // namespace

QString CardsToCsv(const TRfidTags& Tags, uint32_t Master)
{
    QString Text = CsvLine(CardColumnsHeader());
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
        const TCardColumns Card = CardColumnsOf(Row);
        const uint32_t Value = Card.Tag.CardValue();
        if (LineOfCard.contains(Value))
            Fail(Row.Line, QStringLiteral("card %1 is already on line %2").arg(Value).arg(LineOfCard[Value]));
        LineOfCard.insert(Value, Row.Line);
        if (Card.Master) {
            if (MasterLine)
                Fail(Row.Line, QStringLiteral("a second master card (the first is on line %1)").arg(MasterLine));
            // The file keeps the master's position in one byte.
            if (Result.Tags.Count() > 255)
                Fail(Row.Line, QStringLiteral("the master card must be one of the first 256 cards"));
            MasterLine = Row.Line;
            Result.Master = uint32_t(Result.Tags.Count());
        }
        Result.Tags.Add() = Card.Tag;
    }
    return Result;
}
