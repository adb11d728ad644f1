#pragma once

#include "web/LoginThrottle.h"
#include "web/WebExchange.h"
#include "web/WebSessions.h"
#include "web/WebUsers.h"
#include "web/WebUsersFile.h"

#include <QObject>
#include <QThreadPool>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>

// Who sent a request, once their session is checked.
struct TWebCaller
{
    QString User;
    TWebRole Role = TWebRole::Viewer;
    QByteArray Token;
    QByteArray SessionId;
    QHostAddress Peer;
};

// Signing in and out, and the session behind each request. A password is checked on a thread
// of its own (yescrypt takes its time on purpose) while the server goes on; one check at a time
// per user and per address, so that guesses cannot be sent side by side past the throttle.
class TWebAuth : public QObject
{
public:
    explicit TWebAuth(const QString& UsersFile, QObject* Owner = nullptr);
    ~TWebAuth() override;

    void SetUsersFile(const QString& UsersFile);

    // The signed-in caller of Request; none without a live session whose user still has the
    // password and exists.
    std::optional<TWebCaller> Caller(const TWebRequest& Request);
    bool SessionLive(const QByteArray& SessionId);
    // Whether Request carries the caller's token (X-Dorvik-Token).
    static bool TokenGiven(const TWebCaller& Caller, const TWebRequest& Request);

    // POST {"user", "password"}: a session cookie and {"user", "role", "token"}, or 401, or 429
    // with Retry-After while failed tries are slowed.
    void SignIn(const TWebRequest& Request, TWebReply Reply);
    void SignOut(const TWebCaller& Caller, const TWebRequest& Request, TWebReply Reply);

    std::function<void(const QByteArray& SessionId)> OnSignedOut;
    std::function<void(int Priority, const QString& Text)> OnSay;

private:
    // A sign-in whose password is being checked.
    struct TPending
    {
        QString Name;
        std::optional<TWebUser> User;
        TWebRequest Request;
        TWebReply Reply;
    };

    void Checked(quint64 Id, bool Matches);
    void Answer(quint64 Id, bool Matches);
    QByteArray Cookie(const TWebRequest& Request, const QByteArray& Value, int MaxAgeSeconds) const;
    void Say(int Priority, const QString& Text) const;

    std::unique_ptr<TWebUsersFile> FUsers;
    TWebSessions FSessions;
    TLoginThrottle FThrottle;
    QByteArray FDecoy; // an unknown user's password is checked against this, in the same time
    std::set<QString> FChecking; // users and addresses with a check under way
    std::map<quint64, TPending> FPending;
    quint64 FLastPending = 0;
    QString FProblemSaid;
    QThreadPool FPool;
};
