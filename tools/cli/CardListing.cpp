#include "tools/cli/CardListing.h"

#include "common/CsvLine.h"
#include "tools/cli/TextTable.h"
#include "cards/CardJson.h"
#include "cards/NameText.h"

#include <QJsonDocument>

#include <array>

namespace {

using Row = std::array<QString, 4>;

Row CardRow(const TRfidTags& Tags, uint32_t Master, int Index)
{
    const TRfidTag& Tag = Tags.Items(Index);
    return {QString::number(Index + 1), Tag.CardNumber(), NameToText(Tag.Name),
            uint32_t(Index) == Master ? QStringLiteral("Yes") : QString()};
}

QString Table(const TRfidTags& Tags, uint32_t Master)
{
    std::vector<QStringList> Rows{{QStringLiteral("ID"), QStringLiteral("Card number"), QStringLiteral("Name"),
                                   QStringLiteral("Master")}};
    for (int I = 0; I < Tags.Count(); ++I) {
        const Row R = CardRow(Tags, Master, I);
        Rows.push_back({R[0], R[1], R[2], R[3]});
    }
    return TextTable(Rows, true);
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
    return QString::fromUtf8(QJsonDocument(CardsJson(Tags, Master)).toJson(QJsonDocument::Indented));
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
