#include "tools/cli/SwipeListing.h"

#include "tools/cli/TextTable.h"

#include "log/SwipeCsv.h"
#include "log/SwipeJson.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

QString Table(const std::vector<TSwipeRecord>& Swipes)
{
    std::vector<QStringList> Rows{{QStringLiteral("Time"), QStringLiteral("Door"), QStringLiteral("Card number"),
                                   QStringLiteral("Name"), QStringLiteral("Known")}};
    for (const TSwipeRecord& Swipe : Swipes) {
        Rows.push_back({Swipe.Time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), Swipe.Door,
                        Swipe.CardNumber, Swipe.Name, Swipe.Known ? QStringLiteral("Yes") : QStringLiteral("No")});
    }
    return TextTable(Rows);
}

QString CsvListing(const std::vector<TSwipeRecord>& Swipes)
{
    QString Text = SwipeCsvHeader();
    for (const TSwipeRecord& Swipe : Swipes)
        Text += SwipeCsvLine(Swipe);
    return Text;
}

QString JsonListing(const std::vector<TSwipeRecord>& Swipes)
{
    QJsonArray Array;
    for (const TSwipeRecord& Swipe : Swipes)
        Array.append(SwipeJson(Swipe));
    return QString::fromUtf8(QJsonDocument(Array).toJson(QJsonDocument::Indented));
}

} // namespace

QString SwipeListing(const std::vector<TSwipeRecord>& Swipes, ListingFormat Format)
{
    switch (Format) {
    case ListingFormat::Table: return Table(Swipes);
    case ListingFormat::Csv: return CsvListing(Swipes);
    case ListingFormat::Json: return JsonListing(Swipes);
    }
    return {};
}
