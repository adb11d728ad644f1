#include "tools/cli/SwipeListing.h"

#include "tools/cli/Console.h"
#include "tools/cli/TextTable.h"

#include "log/AccessLog.h"
#include "log/SwipeCsv.h"
#include "log/SwipeJson.h"

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
            Swipe.Name, Swipe.Known ? QStringLiteral("Yes") : QStringLiteral("No")};
}

QString Table(const TAccessLog& Log, const TLogStatement& Statement)
{
    const QStringList Header{QStringLiteral("Time"), QStringLiteral("Door"), QStringLiteral("Card number"),
                             QStringLiteral("Name"), QStringLiteral("Known")};
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
