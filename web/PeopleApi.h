#pragma once

#include "web/ChangeJournal.h"
#include "web/WebAuth.h"
#include "web/WebExchange.h"

#include <QJsonObject>
#include <QString>

#include <functional>

class TAgent;
struct TAccessSetup;
struct TSiteList;

// The People page's data: the site list of every door, and an admin's edits of the one site
// list the page keeps, site.csv in the agent's state folder. A door whose site-file is any other
// file (or none) is shown as it is, read-only, with where to change it. An edit is checked as
// dorvik-cli access check checks the file and written whole, or refused with the check's words
// and nothing written; each one made is recorded with who, when and what.
class TPeopleApi
{
public:
    TPeopleApi(TAgent& Agent, QString StateFolder, std::function<void(const TWebChange&)> Record);

    // The site list the page edits: site.csv in the state folder.
    QString EditableFile() const;

    // GET: {"file": the editable list, "zone", "schedules": [...], "lists": [{"file", "editable",
    // "note", "problems", "doors": [{"id", "name"}], "columns": [...], "people": [{"card",
    // "cardNumber", "name", "master", "from", "until", "doors": {ID: "yes" | "" | schedule}}]}],
    // "unknown": [the newest swipe at each door of the editable list of a card it does not hold
    // or list: {"door", "doorName", "card", "cardNumber", "time"}]}
    TWebResponse List() const;

    // For an admin with the token: POST /api/people (add), PUT or PATCH /api/people/CARD (change
    // the fields given), POST /api/people/CARD/lapse (access ends now), DELETE /api/people/CARD.
    // A person: {"card", "name", "from", "until", "doors": {ID: "yes" | "no" | "" | schedule},
    // "master"} (master for the first card of an empty list only).
    TWebResponse Change(const TWebCaller& Caller, const TWebRequest& Request);

private:
    TAccessSetup Setup() const;
    QJsonObject ListJson(const QString& File, const QJsonArray& Doors) const;
    QJsonArray Unknown(const TSiteList& Site) const;
    bool IsEditable(const QString& File) const;

    TAgent& FAgent;
    QString FStateFolder;
    std::function<void(const TWebChange&)> FRecord;
};
