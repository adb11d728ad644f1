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

// The agent's journal, one notice line per change, until the access log keeps a table of them.
class TJournalChanges : public TChangeJournal
{
public:
    explicit TJournalChanges(std::function<void(int Priority, const QString& Text)> Say) : FSay(std::move(Say)) {}
    void Record(const TWebChange& Change) override;

private:
    std::function<void(int Priority, const QString& Text)> FSay;
};
