#pragma once

#include <QHostAddress>
#include <QString>

#include <map>

// Failed sign-ins slow the next try, per user and per address: four are free (typing), then each
// failure doubles the wait before the next try is even looked at, from 15 s up to 15 minutes. A
// try made too early is answered at once and changes nothing; no one waits inside the server.
class TLoginThrottle
{
public:
    static constexpr int FreeFailures = 4;
    static constexpr qint64 FirstWaitMs = 15 * 1000;
    static constexpr qint64 LongestWaitMs = 15 * 60 * 1000;
    static constexpr size_t Most = 10000; // records kept per kind; the quietest go first

    // How long a try for User (empty: no such user) from Address must still wait; 0: now.
    qint64 Wait(const QString& User, const QHostAddress& Address, qint64 NowMs) const;
    void Failed(const QString& User, const QHostAddress& Address, qint64 NowMs);
    void Succeeded(const QString& User, const QHostAddress& Address);

private:
    struct TRecord
    {
        int Failures = 0;
        qint64 NotBeforeMs = 0;
        qint64 LastMs = 0;
    };
    using TRecords = std::map<QString, TRecord>;

    static void Fail(TRecords& Records, const QString& Key, qint64 NowMs);
    static qint64 WaitOf(const TRecords& Records, const QString& Key, qint64 NowMs);

    TRecords FByUser;
    TRecords FByAddress;
};
