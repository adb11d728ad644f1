#pragma once

#include "log/LogQuery.h"
#include "log/SwipeRecord.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <deque>
#include <functional>
#include <vector>

// The history of swipes: one SQLite file (WAL, synchronous=FULL: a swipe reported as logged
// survives a crash or a power loss) on a connection of its own. Nothing here throws: a file
// that is locked, full, read-only or damaged is reported through Error(), and swipes that could
// not be written wait in memory and go first, in order, at the next Record or Flush. Like any
// Qt SQL connection, it is used on the thread that made it.
class TAccessLog
{
public:
    // Swipes kept in memory at most; beyond that the oldest are dropped, and counted.
    static constexpr int PendingLimit = 100000;

    // Opens the file, creating it and its folder, and brings it to the current version.
    explicit TAccessLog(const QString& Path = DefaultPath());
    ~TAccessLog();
    TAccessLog(const TAccessLog&) = delete;
    TAccessLog& operator=(const TAccessLog&) = delete;

    // $XDG_STATE_HOME/dorvik/access.db, ~/.local/state/dorvik/access.db when that is not set.
    static QString DefaultPath();

    const QString& Path() const { return FPath; }

    // Commits the swipe and fills its Id; false when it is kept in memory instead.
    bool Record(TSwipeRecord& Swipe);
    // Writes the swipes kept in memory; true when none are left.
    bool Flush();
    int Pending() const { return int(FPending.size()); }
    int Dropped() const { return FDropped; }

    // What is wrong, naming the file; empty when all is well.
    QString Error() const;

    // Newest first; empty with Error() set when the file cannot be read.
    std::vector<TSwipeRecord> Query(const TLogQuery& Q) const;

    // The message bus: swipes it has not acknowledged yet, oldest first, after the row AfterId;
    // and marking the acknowledged ones, all in one transaction. Both false/empty with Error()
    // set when the file cannot be used.
    std::vector<TSwipeRecord> Unpublished(int Limit, qint64 AfterId = 0) const;
    bool MarkPublished(const std::vector<qint64>& Ids);

    // Removes the swipes before Before; returns how many, or -1 with Error() set.
    int Prune(const QDateTime& Before);

    // The connection, for a view that pages through the log with LogStatement. Whoever uses it
    // lets go of every query on it before this object goes.
    QSqlDatabase Database() const;

private:
    bool Open();
    void Fail(const QSqlError& Error) const;
    void WriteFailed(const QSqlError& Error);
    void Keep(const TSwipeRecord& Swipe);
    std::vector<TSwipeRecord> Swipes(const std::function<QSqlQuery()>& Select) const;

    QString FPath;
    QString FConnection;
    bool FReadyToWrite = false;
    mutable QString FProblem;
    std::deque<TSwipeRecord> FPending;
    int FDropped = 0;
    qint64 FLastId = 0;
};
