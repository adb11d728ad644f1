#pragma once

#include "log/LogQuery.h"
#include "log/SwipeRecord.h"
#include "web/WebExchange.h"

#include <QJsonObject>
#include <QString>

class TAgent;

// What the Activity page's search box means: a card when the text reads as one (its number, its
// value, or the two numbers after it), else a part of a name in any case.
TLogQuery SearchQuery(const QString& Text);
// Whether a swipe just made belongs in a page searched with Text, as SearchQuery picks rows.
bool SwipeMatches(const TSwipeRecord& Swipe, const QString& Text);
// A row of the page: the swipe as every program shows it, its door's id, and why it was refused
// (to come).
QJsonObject SwipeRow(const TSwipeRecord& Swipe);

// The Activity page's data: the access log newest first a page at a time, and the same as CSV.
class TActivityApi
{
public:
    static constexpr int PageRows = 100;
    static constexpr int ExportRows = 2000; // read from the log each time the client has taken the last

    explicit TActivityApi(TAgent& Agent) : FAgent(Agent) {}

    // GET ?q=TEXT&before=KEY: {"rows": [...], "next": KEY or null}; KEY is "TIME-ID" of the last row.
    TWebResponse Rows(const TWebRequest& Request) const;
    // GET ?q=TEXT: every row the search picks, streamed; fields that a spreadsheet would take for
    // a formula are marked as text.
    void Export(const TWebRequest& Request, TWebReply Reply) const;

private:
    TAgent& FAgent;
};
