#pragma once

#include <QByteArray>
#include <QString>

#include <map>

// Who is signed in. A session is a random id in a cookie, with a token of its own that every
// request that changes something must carry. It ends after a while without use, after a working
// day in any case, and when its user's password changes. Times are milliseconds of a clock that
// only goes forward (a wall clock set by years on its first sync ends nothing).
struct TWebSession
{
    QString User;
    QByteArray Hash;  // the user's password hash when signed in
    QByteArray Token;
    qint64 OpenedMs = 0;
    qint64 SeenMs = 0;
};

class TWebSessions
{
public:
    static constexpr qint64 IdleMs = 30 * 60 * 1000;
    static constexpr qint64 LifetimeMs = 12 * 3600 * 1000;
    static constexpr size_t Most = 1000; // beyond, the least recently used goes

    // Returns the new session's id.
    QByteArray Open(const QString& User, const QByteArray& Hash, qint64 NowMs);
    // The session Id names, marked used now; null when there is none or it has ended.
    TWebSession* Find(const QByteArray& Id, qint64 NowMs);
    void Close(const QByteArray& Id);

private:
    void Prune(qint64 NowMs);

    // By a digest of the id: a lookup takes no time that depends on how much of an id is right.
    std::map<QByteArray, TWebSession> FSessions;
};

// Random bytes from the system, as URL-safe text.
QByteArray RandomText(int Bytes);
