#include "web/WebSite.h"

#include "agent/Agent.h"
#include "agent/AgentLog.h"
#include "agent/Door.h"
#include "discovery/AgentDoors.h"
#include "web/WebJson.h"

TWebSite::TWebSite(TAgent& Agent, const TWebSettings& Settings, QObject* Owner)
    : QObject(Owner), FAgent(Agent), FSettings(Settings),
      FChanges(std::make_unique<TLogChanges>(*Agent.Log(), [this](int Priority, const QString& Text) { Say(Priority, Text); })),
      FAuth(Settings.UsersFile), FDoors(Agent, [this](const TWebChange& Change) { FChanges->Record(Change); }),
      FActivity(Agent), FPeople(Agent, AgentStateDirectory(), [this](const TWebChange& Change) { FChanges->Record(Change); }),
      FStreams([this](const QByteArray& Id) { return FAuth.SessionLive(Id); })
{
    FAuth.OnSay = [this](int Priority, const QString& Text) { Say(Priority, Text); };
    FAuth.OnSignedOut = [this](const QByteArray& Id) { FStreams.SignedOut(Id); };
    FDoors.OnDoor = [this](const QJsonObject& Door) { FStreams.Door(Door); };
    connect(&Agent, &TAgent::Swiped, this, [this](const TSwipeRecord& Swipe) { FStreams.Swipe(Swipe); });
    connect(&Agent, &TAgent::DoorAdded, this, [this](TDoor* Door) { FDoors.Follow(*Door); });
    connect(&Agent, &TAgent::DoorRemoved, this, [this](const QString& Id) { FDoors.Removed(Id); });
    // From the event loop, so that what listening says reaches an OnSay set after this.
    QMetaObject::invokeMethod(this, [this] { Listen(); }, Qt::QueuedConnection);
}

TWebSite::~TWebSite()
{
    FServer.reset();
}

void TWebSite::Say(int Priority, const QString& Text) const
{
    if (OnSay)
        return OnSay(Priority, Text);
    AgentLog(TPriority(Priority), Text);
}

quint16 TWebSite::Port() const { return FServer ? FServer->Port() : 0; }

void TWebSite::SetChanges(std::unique_ptr<TChangeJournal> Changes) { FChanges = std::move(Changes); }

void TWebSite::Listen()
{
    try {
        FServer = std::make_unique<TWebServer>(FSettings, TWebLimits{}, [this](const TWebRequest& R, TWebReply Reply) { Handle(R, Reply); });
        FServer->OnSay = [this](int Priority, const QString& Text) { Say(Priority, Text); };
    } catch (const std::exception& E) {
        return Say(3, QStringLiteral("%1; the page is off until the next reload").arg(QString::fromUtf8(E.what())));
    }
    TWebSettings Bound = FSettings;
    Bound.Port = FServer->Port();
    Say(5, QStringLiteral("web: the page is on %1").arg(Bound.Url()));
    try {
        LoadWebUsers(FSettings.UsersFile);
    } catch (const std::exception& E) {
        Say(4, QStringLiteral("web: no one can sign in yet: %1").arg(QString::fromUtf8(E.what())));
    }
}

void TWebSite::Apply(const std::optional<TWebSettings>& Settings)
{
    if (!Settings) {
        if (std::exchange(FServer, nullptr))
            Say(5, QStringLiteral("web: no [web] section any more: the page is off"));
        return;
    }
    if (*Settings == FSettings && FServer)
        return;
    FServer.reset();
    FSettings = *Settings;
    FAuth.SetUsersFile(FSettings.UsersFile);
    Listen();
}

void TWebSite::Handle(const TWebRequest& Request, TWebReply Reply)
{
    try {
        if (Request.Path.startsWith(QStringLiteral("/api/")))
            return Api(Request, Reply);
        if (Request.Method != "GET" && Request.Method != "HEAD")
            return Reply.Send({405, "text/plain; charset=utf-8", "Method not allowed.\n"});
        const std::optional<TWebCaller> Caller = FAuth.Caller(Request);
        if (Request.Path == u"/")
            return Reply.Send(Redirect(Caller ? "/doors" : "/login"));
        const std::optional<TWebResource> Resource = FResources.Find(Request.Path);
        if (!Resource)
            return Reply.Send({404, "text/plain; charset=utf-8", "Not found.\n"});
        if (Resource->Page && !Caller)
            return Reply.Send(Redirect("/login"));
        Reply.Send({200, Resource->ContentType, Resource->Body});
    } catch (const std::exception& E) {
        Say(3, QStringLiteral("web: %1 %2: %3").arg(QString::fromLatin1(Request.Method), Request.Path, QString::fromUtf8(E.what())));
        Reply.Send(ErrorResponse(500, QStringLiteral("The agent could not answer: %1").arg(QString::fromUtf8(E.what()))));
    }
}

void TWebSite::Api(const TWebRequest& Request, TWebReply Reply)
{
    const bool Post = Request.Method == "POST";
    const bool Change = Request.Method != "GET" && Request.Method != "HEAD";
    if (Change) {
        // Only the page's own script sends these: a form or a link of another site can send
        // neither JSON nor the token nor another method, and a browser says where a request
        // comes from.
        if (Request.Method != "DELETE" && !Request.Header("content-type").startsWith("application/json"))
            return Reply.Send(ErrorResponse(415, QStringLiteral("Send JSON.")));
        if (const QByteArray Site = Request.Header("sec-fetch-site"); !Site.isEmpty() && Site != "same-origin")
            return Reply.Send(ErrorResponse(403, QStringLiteral("Changes come from the page itself only.")));
    }
    const QString& Path = Request.Path;
    if (Post && Path == u"/api/login")
        return FAuth.SignIn(Request, Reply);
    const std::optional<TWebCaller> Caller = FAuth.Caller(Request);
    if (!Caller)
        return Reply.Send(ErrorResponse(401, QStringLiteral("Sign in first.")));
    if (Change && !TWebAuth::TokenGiven(*Caller, Request))
        return Reply.Send(ErrorResponse(403, QStringLiteral("The request does not carry the page's token: reload the page.")));
    if (Post && Path == u"/api/logout")
        return FAuth.SignOut(*Caller, Request, Reply);
    if (!Change && Path == u"/api/session")
        return Reply.Send(JsonResponse({{QStringLiteral("user"), Caller->User},
                                        {QStringLiteral("role"), RoleName(Caller->Role)},
                                        {QStringLiteral("token"), QString::fromLatin1(Caller->Token)}}));
    if (!Change && Path == u"/api/doors")
        return Reply.Send(JsonResponse(FDoors.List()));
    if (Post && Path.startsWith(QStringLiteral("/api/doors/"))) {
        if (Caller->Role != TWebRole::Admin)
            return Reply.Send(ErrorResponse(403, QStringLiteral("Only an admin changes a door.")));
        return FDoors.Change(*Caller, Path.mid(11), Request, Reply);
    }
    if (!Change && Path == u"/api/people")
        return Reply.Send(FPeople.List());
    if (Change && (Path == u"/api/people" || Path.startsWith(QStringLiteral("/api/people/")))) {
        if (Caller->Role != TWebRole::Admin)
            return Reply.Send(ErrorResponse(403, QStringLiteral("Only an admin changes the site list.")));
        return Reply.Send(FPeople.Change(*Caller, Request));
    }
    if (!Change && Path == u"/api/swipes")
        return Reply.Send(FActivity.Rows(Request));
    if (!Change && Path == u"/api/swipes.csv")
        return FActivity.Export(Request, Reply);
    if (!Change && Path == u"/api/events")
        return FStreams.Open(*Caller, Request, Reply);
    Reply.Send(ErrorResponse(404, QStringLiteral("No such call.")));
}
