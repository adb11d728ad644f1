#include "tools/cli/SwipeListing.h"

#include "tools/cli/Console.h"
#include "tools/cli/TextTable.h"

#include "log/AccessLog.h"
#include "log/SwipeCsv.h"
#include "log/SwipeJson.h"

#include "common/CsvLine.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <functional>

namespace {

constexpr int RowsPerWrite = 256;

// Text gathered and written a chunk at a time.
class TChunkedOutput
{
public:
    ~TChunkedOutput() { Flush(); }
    void Add(const QString& Text)
    {
        FText += Text;
        if (++FRows >= RowsPerWrite)
            Flush();
    }
    void Flush()
    {
        if (!FText.isEmpty())
            Print(FText);
        FText.clear();
        FRows = 0;
    }

private:
    QString FText;
    int FRows = 0;
};

QStringList TableRow(const TSwipeRecord& Swipe)
{
    return {Swipe.Time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), Swipe.Door, Swipe.CardNumber,
            Swipe.Name, Swipe.Known ? QStringLiteral("Yes") : QStringLiteral("No"), Swipe.Reason};
}

QString Table(const TAccessLog& Log, const TLogStatement& Statement)
{
    const QStringList Header{QStringLiteral("Time"), QStringLiteral("Door"), QStringLiteral("Card number"),
                             QStringLiteral("Name"), QStringLiteral("Known"), QStringLiteral("Reason")};
    std::vector<qsizetype> Width;
    WidenTextTable(Width, Header);
    const QString Problem = Log.ForEach(Statement, [&](const TSwipeRecord& Swipe) {
        WidenTextTable(Width, TableRow(Swipe));
        return true;
    });
    if (!Problem.isEmpty())
        return Problem;
    TChunkedOutput Out;
    Out.Add(TextTableRow(Header, Width));
    return Log.ForEach(Statement, [&](const TSwipeRecord& Swipe) {
        Out.Add(TextTableRow(TableRow(Swipe), Width));
        return true;
    });
}

QString Csv(const TAccessLog& Log, const TLogStatement& Statement)
{
    TChunkedOutput Out;
    Out.Add(SwipeCsvHeader());
    return Log.ForEach(Statement, [&](const TSwipeRecord& Swipe) {
        Out.Add(SwipeCsvLine(Swipe));
        return true;
    });
}

// As QJsonDocument prints an array of the objects, one object at a time.
QString Json(const TAccessLog& Log, const TLogStatement& Statement)
{
    TChunkedOutput Out;
    Out.Add(QStringLiteral("["));
    bool First = true;
    const QString Problem = Log.ForEach(Statement, [&](const TSwipeRecord& Swipe) {
        QString Object = QString::fromUtf8(QJsonDocument(SwipeJson(Swipe)).toJson(QJsonDocument::Indented));
        Object.chop(1);
        Object.replace(u'\n', QStringLiteral("\n    "));
        Out.Add((First ? QStringLiteral("\n    ") : QStringLiteral(",\n    ")) + Object);
        First = false;
        return true;
    });
    Out.Add(QStringLiteral("\n]\n"));
    return Problem;
}

} // namespace

QString ChangeListing(const std::vector<TChangeRecord>& Changes, ListingFormat Format)
{
    QString Text;
    switch (Format) {
    case ListingFormat::Table: {
        std::vector<QStringList> Rows{{QStringLiteral("Time"), QStringLiteral("User"), QStringLiteral("Address"), QStringLiteral("What")}};
        for (const TChangeRecord& C : Changes)
            Rows.push_back({C.Time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), C.User, C.Address, C.What});
        return TextTable(Rows);
    }
    case ListingFormat::Csv:
        Text = CsvLine({QStringLiteral("id"), QStringLiteral("time"), QStringLiteral("user"), QStringLiteral("address"), QStringLiteral("what")});
        for (const TChangeRecord& C : Changes)
            Text += CsvLine({QString::number(C.Id), C.Time.toUTC().toString(Qt::ISODateWithMs), C.User, C.Address, C.What});
        return Text;
    case ListingFormat::Json: {
        QJsonArray Array;
        for (const TChangeRecord& C : Changes)
            Array.append(ChangeJson(C));
        return QString::fromUtf8(QJsonDocument(Array).toJson(QJsonDocument::Indented));
    }
    }
    return Text;
}

QString PrintSwipeListing(const TAccessLog& Log, const TLogQuery& Query, ListingFormat Format)
{
    const TLogStatement Statement = LogStatement(Query);
    switch (Format) {
    case ListingFormat::Table: return Table(Log, Statement);
    case ListingFormat::Csv: return Csv(Log, Statement);
    case ListingFormat::Json: return Json(Log, Statement);
    }
    return {};
}
