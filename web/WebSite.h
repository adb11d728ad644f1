#pragma once

#include "agent/WebSettings.h"
#include "web/ActivityApi.h"
#include "web/ChangeJournal.h"
#include "web/DoorsApi.h"
#include "web/EventStreams.h"
#include "web/PeopleApi.h"
#include "web/WebAuth.h"
#include "web/WebResources.h"
#include "web/WebServer.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>

class TAgent;
class TDoor;
struct TSwipeRecord;

// The agent's page: sign-in, Doors, Activity and People, for the users of the users file. A front end
// of the agent like the message bus: it follows the agent's doors and swipes through their signals.
class TWebSite : public QObject
{
public:
    // Listens at once; what keeps it from listening is said, and the agent goes on without it
    // until a reload.
    TWebSite(TAgent& Agent, const TWebSettings& Settings, QObject* Owner = nullptr);
    ~TWebSite() override;

    // A reload: new settings listen anew (open pages reconnect by themselves); none stop the
    // page; the same change nothing.
    void Apply(const std::optional<TWebSettings>& Settings);
    // Where it listens; 0 while it does not.
    quint16 Port() const;
    // Where the page's changes are kept (the agent's journal until then).
    void SetChanges(std::unique_ptr<TChangeJournal> Changes);

    // What the page has to say, with a journal priority; the agent's log when empty.
    std::function<void(int Priority, const QString& Text)> OnSay;

private:
    void Listen();
    void Handle(const TWebRequest& Request, TWebReply Reply);
    void Api(const TWebRequest& Request, TWebReply Reply);
    void Say(int Priority, const QString& Text) const;

    TAgent& FAgent;
    TWebSettings FSettings;
    TWebResources FResources;
    std::unique_ptr<TChangeJournal> FChanges;
    TWebAuth FAuth;
    TDoorsApi FDoors;
    TActivityApi FActivity;
    TPeopleApi FPeople;
    TEventStreams FStreams;
    std::unique_ptr<TWebServer> FServer; // last: its connections end before what they reach
};
