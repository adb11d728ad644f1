#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

// A change made on the page: who, from where, when and what.
struct TWebChange
{
    QDateTime Time; // UTC
    QString User;
    QString Address;
    QString What; // "door front-door: mode momentary, delay 5 s (written and read back)"
};

// Where the page's changes are kept. Every change the page makes goes through one of these.
class TChangeJournal
{
public:
    virtual ~TChangeJournal() = default;
    virtual void Record(const TWebChange& Change) = 0;
};

class TAccessLog;

// The access log's table of changes (dorvik-cli log --changes), and a notice line in the agent's
// journal for each.
class TLogChanges : public TChangeJournal
{
public:
    TLogChanges(TAccessLog& Log, std::function<void(int Priority, const QString& Text)> Say)
        : FLog(Log), FSay(std::move(Say))
    {
    }
    void Record(const TWebChange& Change) override;

private:
    TAccessLog& FLog;
    std::function<void(int Priority, const QString& Text)> FSay;
};
