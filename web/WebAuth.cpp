#include "web/WebAuth.h"

#include "common/Errors.h"
#include "web/PasswordHash.h"
#include "web/WebJson.h"

#include <chrono>
#include <cmath>

namespace {

qint64 NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The __Host- prefix binds the cookie to this very origin; browsers take it only with Secure.
QByteArray CookieName(bool Tls) { return Tls ? "__Host-dorvik" : "dorvik"; }

bool SameBytes(const QByteArray& A, const QByteArray& B)
{
    if (A.size() != B.size())
        return false;
    unsigned char Difference = 0;
    for (qsizetype I = 0; I < A.size(); ++I)
        Difference |= uchar(A[I] ^ B[I]);
    return Difference == 0;
}

// A name the journal may show: what a stranger typed is not written there as it stands.
QString Shown(const QString& Name) { return ValidUserName(Name) ? Name : QStringLiteral("(a name no user can have)"); }

} // namespace

TWebAuth::TWebAuth(const QString& UsersFile, QObject* Owner)
    : QObject(Owner), FUsers(std::make_unique<TWebUsersFile>(UsersFile)), FDecoy(HashPassword(RandomText(16)))
{
    FPool.setMaxThreadCount(2);
}

TWebAuth::~TWebAuth() { FPool.waitForDone(); }

void TWebAuth::Say(int Priority, const QString& Text) const
{
    if (OnSay)
        OnSay(Priority, Text);
}

void TWebAuth::SetUsersFile(const QString& UsersFile) { FUsers = std::make_unique<TWebUsersFile>(UsersFile); }

std::optional<TWebCaller> TWebAuth::Caller(const TWebRequest& Request)
{
    const QByteArray Id = Request.Cookies.value(CookieName(Request.Tls));
    const TWebSession* Session = FSessions.Find(Id, NowMs());
    if (!Session)
        return std::nullopt;
    const std::optional<TWebUser> User = FUsers->Find(Session->User);
    if (!User || User->Hash != Session->Hash) {
        FSessions.Close(Id);
        return std::nullopt;
    }
    return TWebCaller{User->Name, User->Role, Session->Token, Id, Request.Peer};
}

bool TWebAuth::SessionLive(const QByteArray& SessionId)
{
    const TWebSession* Session = FSessions.Find(SessionId, NowMs());
    const std::optional<TWebUser> User = Session ? FUsers->Find(Session->User) : std::nullopt;
    return User && User->Hash == Session->Hash;
}

bool TWebAuth::TokenGiven(const TWebCaller& Caller, const TWebRequest& Request)
{
    return SameBytes(Request.Header("x-dorvik-token"), Caller.Token);
}

QByteArray TWebAuth::Cookie(const TWebRequest& Request, const QByteArray& Value, int MaxAgeSeconds) const
{
    QByteArray Text = CookieName(Request.Tls) + '=' + Value + "; Path=/; Max-Age=" + QByteArray::number(MaxAgeSeconds) +
                      "; HttpOnly; SameSite=Strict";
    // Over plain HTTP a browser would drop a Secure cookie. That is served on loopback only,
    // where the cookie crosses no network.
    if (Request.Tls)
        Text += "; Secure";
    return Text;
}

void TWebAuth::SignIn(const TWebRequest& Request, TWebReply Reply)
{
    const std::optional<QJsonObject> Body = JsonBody(Request);
    const QString Name = Body ? Body->value(u"user").toString() : QString();
    const QByteArray Password = Body ? Body->value(u"password").toString().toUtf8() : QByteArray();
    if (Name.isEmpty() || Password.isEmpty())
        return Reply.Send(ErrorResponse(400, QStringLiteral("Give a name and a password.")));
    std::optional<TWebUser> User = ValidUserName(Name) ? FUsers->Find(Name) : std::nullopt;
    if (const QString Problem = FUsers->Problem(); !Problem.isEmpty()) {
        if (std::exchange(FProblemSaid, Problem) != Problem)
            Say(3, QStringLiteral("web: no one can sign in: %1").arg(Problem));
        return Reply.Send(ErrorResponse(503, QStringLiteral("Signing in is not possible now: the agent cannot use its users file (see its journal).")));
    }
    const QString UserKey = QStringLiteral("user ") + Name;
    const QString AddressKey = QStringLiteral("address ") + Request.Peer.toString();
    const qint64 Wait = FThrottle.Wait(User ? Name : QString(), Request.Peer, NowMs());
    if (Wait > 0 || FChecking.count(UserKey) || FChecking.count(AddressKey)) {
        const qint64 Seconds = std::max<qint64>(1, (Wait + 999) / 1000);
        TWebResponse Slowed = JsonResponse({{QStringLiteral("error"), QStringLiteral("Too many failed sign-ins: try again in %1 s.").arg(Seconds)},
                                            {QStringLiteral("retryAfter"), Seconds}},
                                           429);
        Slowed.Headers.push_back({"Retry-After", QByteArray::number(Seconds)});
        return Reply.Send(Slowed);
    }
    FChecking.insert(UserKey);
    FChecking.insert(AddressKey);
    const QByteArray Hash = User ? User->Hash : FDecoy;
    const quint64 Id = ++FLastPending;
    FPending.emplace(Id, TPending{Name, std::move(User), Request, std::move(Reply)});
    // The reply stays on this thread: the worker sees the password and the hash only.
    FPool.start([this, Id, Password, Hash] {
        const bool Matches = PasswordMatches(Password, Hash);
        QMetaObject::invokeMethod(this, [this, Id, Matches] { Checked(Id, Matches); }, Qt::QueuedConnection);
    });
}

void TWebAuth::Checked(quint64 Id, bool Matches)
{
    try {
        Answer(Id, Matches);
    } catch (const std::exception& E) {
        ReportException(E);
    }
}

void TWebAuth::Answer(quint64 Id, bool Matches)
{
    const auto Found = FPending.find(Id);
    if (Found == FPending.end())
        return;
    TPending P = std::move(Found->second);
    FPending.erase(Found);
    FChecking.erase(QStringLiteral("user ") + P.Name);
    FChecking.erase(QStringLiteral("address ") + P.Request.Peer.toString());
    const QString From = P.Request.Peer.toString();
    if (!Matches || !P.User) {
        FThrottle.Failed(P.User ? P.Name : QString(), P.Request.Peer, NowMs());
        Say(5, QStringLiteral("web: a failed sign-in as %1 from %2").arg(Shown(P.Name), From));
        return P.Reply.Send(ErrorResponse(401, QStringLiteral("Wrong name or password.")));
    }
    FThrottle.Succeeded(P.Name, P.Request.Peer);
    const QByteArray Session = FSessions.Open(P.Name, P.User->Hash, NowMs());
    const TWebSession* Opened = FSessions.Find(Session, NowMs());
    Say(6, QStringLiteral("web: %1 signed in from %2").arg(P.Name, From));
    TWebResponse Answer = JsonResponse({{QStringLiteral("user"), P.Name},
                                        {QStringLiteral("role"), RoleName(P.User->Role)},
                                        {QStringLiteral("token"), QString::fromLatin1(Opened->Token)}});
    Answer.Headers.push_back({"Set-Cookie", Cookie(P.Request, Session, int(TWebSessions::LifetimeMs / 1000))});
    P.Reply.Send(Answer);
}

void TWebAuth::SignOut(const TWebCaller& Caller, const TWebRequest& Request, TWebReply Reply)
{
    FSessions.Close(Caller.SessionId);
    Say(6, QStringLiteral("web: %1 signed out").arg(Caller.User));
    if (OnSignedOut)
        OnSignedOut(Caller.SessionId);
    TWebResponse Answer = JsonResponse({});
    Answer.Headers.push_back({"Set-Cookie", Cookie(Request, "", 0)});
    Reply.Send(Answer);
}
