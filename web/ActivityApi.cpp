#include "web/ActivityApi.h"

#include "agent/Agent.h"
#include "log/AccessLog.h"
#include "log/SwipeCsv.h"
#include "log/SwipeJson.h"
#include "web/WebJson.h"

#include <QJsonArray>

#include <memory>
#include <vector>

namespace {

std::optional<TSwipeKey> KeyFrom(const QString& Text)
{
    const QStringList Parts = Text.split(u'-');
    bool TimeOk = false, IdOk = false;
    if (Parts.size() != 2)
        return std::nullopt;
    const TSwipeKey Key{Parts[0].toLongLong(&TimeOk), Parts[1].toLongLong(&IdOk)};
    return TimeOk && IdOk ? std::optional(Key) : std::nullopt;
}

QString KeyText(const TSwipeKey& Key) { return QStringLiteral("%1-%2").arg(Key.TimeMs).arg(Key.Id); }

std::vector<TSwipeRecord> Select(TAgent& Agent, const TLogQuery& Query, const std::optional<TSwipeKey>& After)
{
    std::vector<TSwipeRecord> Rows;
    QSqlQuery Found = SelectSwipes(Agent.Log()->Database(), Query, After);
    while (Found.next())
        Rows.push_back(SwipeAt(Found));
    return Rows;
}

} // namespace

TLogQuery SearchQuery(const QString& Text)
{
    TLogQuery Query;
    const QString Given = Text.trimmed();
    if (CardValueFromText(Given))
        Query.Card = Given;
    else
        Query.NameText = Given;
    return Query;
}

bool SwipeMatches(const TSwipeRecord& Swipe, const QString& Text)
{
    const TLogQuery Query = SearchQuery(Text);
    if (!Query.Card.isEmpty())
        return CardValueFromText(Query.Card) == SwipeCardValue(Swipe);
    return Swipe.Name.toCaseFolded().contains(Query.NameText.toCaseFolded());
}

QJsonObject SwipeRow(const TSwipeRecord& Swipe)
{
    QJsonObject Row = SwipeJson(Swipe);
    Row.insert(QStringLiteral("doorId"), Swipe.DoorId); // where the People page allows the card
    return Row;
}

TWebResponse TActivityApi::Rows(const TWebRequest& Request) const
{
    TLogQuery Query = SearchQuery(Request.Query.value(QStringLiteral("q")));
    Query.Limit = PageRows + 1; // one more says whether there is a next page
    const QString Before = Request.Query.value(QStringLiteral("before"));
    const std::optional<TSwipeKey> After = KeyFrom(Before);
    if (!Before.isEmpty() && !After)
        return ErrorResponse(400, QStringLiteral("before takes the next key of the previous page."));
    std::vector<TSwipeRecord> Found = Select(FAgent, Query, After);
    const bool More = Found.size() > size_t(PageRows);
    Found.resize(std::min(Found.size(), size_t(PageRows)));
    QJsonArray Rows;
    for (const TSwipeRecord& Swipe : Found)
        Rows.append(SwipeRow(Swipe));
    return JsonResponse({{QStringLiteral("rows"), Rows},
                         {QStringLiteral("next"), More ? QJsonValue(KeyText(SwipeKey(Found.back()))) : QJsonValue()}});
}

void TActivityApi::Export(const TWebRequest& Request, TWebReply Reply) const
{
    TLogQuery Query = SearchQuery(Request.Query.value(QStringLiteral("q")));
    Query.Limit = ExportRows;
    const std::shared_ptr<TWebStream> Stream =
        Reply.Stream({200, "text/csv; charset=utf-8", {}, {{"Content-Disposition", "attachment; filename=\"swipes.csv\""}}});
    Stream->Write(SwipeCsvHeader().toUtf8());
    TWebStream* Out = Stream.get(); // the handler belongs to the stream
    auto After = std::make_shared<std::optional<TSwipeKey>>();
    TAgent& Agent = FAgent;
    Stream->OnDrained = [&Agent, Query, Out, After] {
        const std::vector<TSwipeRecord> Page = Select(Agent, Query, *After);
        QByteArray Lines;
        for (const TSwipeRecord& Swipe : Page)
            Lines += SwipeCsvLine(Swipe).toUtf8(); // guarded against formulas there
        Out->Write(Lines);
        if (Page.size() < size_t(ExportRows))
            return Out->End();
        *After = SwipeKey(Page.back());
    };
}
