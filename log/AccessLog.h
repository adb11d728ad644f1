#pragma once

#include "log/ChangeRecord.h"
#include "log/LogFiles.h"
#include "log/LogQuery.h"
#include "log/LogWriter.h"
#include "log/SwipeRecord.h"

#include <QDateTime>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QThread>

#include <functional>
#include <memory>
#include <vector>

// How the log's file stands, for a person who asks.
struct TLogStatus
{
    int Version = 0;          // of the file; 0 when it could not be read
    qint64 Rows = 0;
    qint64 Dropped = 0;       // swipes dropped for room while the file could not take them, ever
    int Waiting = 0;          // swipes in the side file, waiting to be written
    QString Problem;
};

// The history of swipes: one SQLite file (WAL, synchronous=FULL: a swipe reported as committed
// survives a crash or a power loss). Reading runs on the owner's connection, on its thread.
// A log made to Record writes on a thread of its own (TLogWriter), so the caller never waits for
// the disk or for another program's lock: Record returns at once, and Committed says when the
// rows are in the file, in the order recorded. A file that is locked, full, read-only or damaged
// is named by Error(); its swipes wait in memory and are written once it can take them. What is
// still waiting when the log closes goes to the side file beside it, which the next program to
// record in the log takes in first. Nothing here throws.
class TAccessLog : public QObject
{
    Q_OBJECT

public:
    // Swipes kept in memory at most; beyond that the oldest are dropped, and counted.
    static constexpr int PendingLimit = 100000;

    enum class TUse { Read, Record };

    // Read opens the file now (made when it is not there), bringing an older file to this version,
    // and starts the writer at the first write. Record, for a program that must not wait for the
    // file, starts the writer at once: it makes the file and its folder with Sharing's modes and
    // takes in the side file, and reading starts when it has the file ready.
    explicit TAccessLog(const QString& Path = DefaultPath(), TUse Use = TUse::Read,
                        TLogSharing Sharing = TLogSharing::Private, QObject* Owner = nullptr);
    ~TAccessLog() override;

    // $XDG_STATE_HOME/dorvik/access.db, ~/.local/state/dorvik/access.db when that is not set.
    static QString DefaultPath();

    const QString& Path() const { return FPath; }

    // ---- writing (a Record log); none of these waits
    void Record(const TSwipeRecord& Swipe);
    // The message bus has these rows acknowledged.
    void MarkPublished(const std::vector<qint64>& Ids);
    // A change a person made through the agent, kept with the swipes.
    void RecordChange(const TChangeRecord& Change);
    // Removes the swipes before Before, a short transaction at a time; Pruned says how many.
    void Prune(const QDateTime& Before);

    // ---- writing that waits: for tools and tests, never on a window's or the agent's thread
    // Records the swipe and waits for one try: true, with its Id, when it was committed.
    bool Commit(TSwipeRecord& Swipe);
    // Stops the writer: one last try, then what is left goes to the side file. Closing says how
    // many went there, or were lost when that could not be written either. Once only.
    TLogClosing Close();

    // Swipes recorded and not yet committed (nor dropped or set aside).
    int Pending() const;
    // What is wrong, naming the file; empty when all is well.
    QString Error() const;

    // ---- reading
    // Newest first; empty with Error() set when the file cannot be read.
    std::vector<TSwipeRecord> Query(const TLogQuery& Q) const;
    // Hands each row of Statement to Take, which returns false to stop. Returns what is wrong in
    // the log's own words; empty when every row was read.
    QString ForEach(const TLogStatement& Statement, const std::function<bool(const TSwipeRecord&)>& Take) const;
    // The message bus: swipes it has not acknowledged yet, oldest first, after the row AfterId.
    std::vector<TSwipeRecord> Unpublished(int Limit, qint64 AfterId = 0) const;
    // Counts every row: for a person who asks, not for a window's every update.
    TLogStatus Status() const;
    // The changes people made, newest first (Limit 0: all); empty with Error() set when the
    // file cannot be read.
    std::vector<TChangeRecord> Changes(const std::optional<QDateTime>& Since, const std::optional<QDateTime>& Until,
                                       int Limit) const;
    // Swipes dropped for room while the file could not take them, ever (those in memory too).
    qint64 Dropped() const;
    // The reading connection; invalid until the file can be read.
    QSqlDatabase Database() const;

signals:
    void Committed(const std::vector<TSwipeRecord>& Rows);
    void Held(const std::vector<TSwipeRecord>& Swipes);
    void Imported(int Count);
    void Pruned(int Removed);
    // Error(), Pending() or whether the file can be read changed.
    void Changed();

private:
    void StartWriter();
    bool OpenReader() const;
    void Fail(const QSqlError& Error) const;
    std::vector<TSwipeRecord> Swipes(const std::function<QSqlQuery()>& Select) const;
    QString ForEachRow(const std::function<QSqlQuery()>& Select, const std::function<bool(const TSwipeRecord&)>& Take) const;

    QString FPath;
    TUse FUse;
    TLogSharing FSharing;
    bool FClosed = false;
    QString FConnection;
    mutable bool FReaderOpen = false;
    mutable QString FReadProblem;
    qint64 FTaken = 0;
    std::shared_ptr<TLogWriterState> FState;
    QThread FThread;
    TLogWriter* FWriter = nullptr; // lives on FThread; deleted when it has finished
};
