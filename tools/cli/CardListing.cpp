#include "tools/cli/CardListing.h"

#include "tools/cli/Csv.h"
#include "cards/NameText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>

namespace {

using Row = std::array<QString, 4>;

Row CardRow(const TRfidTags& Tags, uint32_t Master, int Index)
{
    const TRfidTag& Tag = Tags.Items(Index);
    return {QString::number(Index + 1), Tag.CardNumber(), NameToText(Tag.Name),
            uint32_t(Index) == Master ? QStringLiteral("Yes") : QString()};
}

// A table cell stays on one line whatever the name holds.
QString OneLine(QString Text)
{
    Text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    Text.replace(u'\n', u' ').replace(u'\r', u' ').replace(u'\t', u' ');
    return Text;
}

QString Table(const TRfidTags& Tags, uint32_t Master)
{
    std::vector<Row> Rows{{QStringLiteral("ID"), QStringLiteral("Card number"), QStringLiteral("Name"),
                           QStringLiteral("Master")}};
    for (int I = 0; I < Tags.Count(); ++I) {
        Row R = CardRow(Tags, Master, I);
        R[2] = OneLine(R[2]);
        Rows.push_back(R);
    }
    std::array<qsizetype, 4> Width{};
    for (const Row& R : Rows) {
        for (size_t C = 0; C < R.size(); ++C)
            Width[C] = std::max(Width[C], R[C].size());
    }
    QString Text;
    for (const Row& R : Rows) {
        const QString Gap = QStringLiteral("  ");
        QString Line = R[0].rightJustified(Width[0]) + Gap + R[1].leftJustified(Width[1]) + Gap +
                       R[2].leftJustified(Width[2]) + Gap + R[3];
        while (Line.endsWith(u' '))
            Line.chop(1);
        Text += Line + u'\n';
    }
    return Text;
}

QString CsvListing(const TRfidTags& Tags, uint32_t Master)
{
    QString Text = CsvLine({QStringLiteral("id"), QStringLiteral("card number"), QStringLiteral("name"),
                            QStringLiteral("master")});
    for (int I = 0; I < Tags.Count(); ++I) {
        const Row R = CardRow(Tags, Master, I);
        Text += CsvLine({R[0], R[1], R[2], R[3]});
    }
    return Text;
}

QString JsonListing(const TRfidTags& Tags, uint32_t Master)
{
    QJsonArray Cards;
    for (int I = 0; I < Tags.Count(); ++I) {
        const TRfidTag& Tag = Tags.Items(I);
        Cards.append(QJsonObject{
            {QStringLiteral("id"), I + 1},
            {QStringLiteral("cardNumber"), Tag.CardNumber()},
            {QStringLiteral("value"), qint64(Tag.CardValue())},
            {QStringLiteral("name"), NameToText(Tag.Name)},
            {QStringLiteral("master"), uint32_t(I) == Master},
        });
    }
    return QString::fromUtf8(QJsonDocument(Cards).toJson(QJsonDocument::Indented));
}

} // namespace

std::optional<ListingFormat> ListingFormatNamed(const QString& Name)
{
    if (Name == u"table")
        return ListingFormat::Table;
    if (Name == u"csv")
        return ListingFormat::Csv;
    if (Name == u"json")
        return ListingFormat::Json;
    return std::nullopt;
}

QString CardListing(const TRfidTags& Tags, uint32_t Master, ListingFormat Format)
{
    switch (Format) {
    case ListingFormat::Table: return Table(Tags, Master);
    case ListingFormat::Csv: return CsvListing(Tags, Master);
    case ListingFormat::Json: return JsonListing(Tags, Master);
    }
    return {};
}
