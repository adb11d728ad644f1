#pragma once

#include "log/ChangeRecord.h"
#include "log/LogFiles.h"
#include "log/SwipeRecord.h"

#include <QDateTime>
#include <QMutex>
#include <QObject>
#include <QString>

#include <deque>
#include <memory>
#include <optional>
#include <vector>

class QTimer;
class QSqlDatabase;

// What the writer's owner may read at any moment from its own thread.
struct TLogWriterState
{
    mutable QMutex Lock;
    bool Opened = false;  // the file is at this program's version
    QString Problem;      // why the last write failed; empty when it did not
    qint64 Settled = 0;   // swipes taken that were committed, dropped or set aside
    int Unsaved = 0;      // dropped for room and not yet counted in the file
};

// How a writer ended: swipes it could not commit went to the side file, or were lost with it.
struct TLogClosing
{
    int SetAside = 0;
    int Lost = 0;
    QString Problem;
};

// The one place that writes the access log, on a thread of its own with its own connection, so
// that a log that is locked, full or slow never holds up the program that records. Swipes are
// committed in the order taken, many at a time when they come quicker than the disk; what cannot
// be written waits here (the oldest dropped beyond Limit) and is tried again with backoff.
// Every member runs on the writer's thread; results go back as signals, queued in order.
class TLogWriter : public QObject
{
    Q_OBJECT

public:
    TLogWriter(const QString& Path, TLogSharing Sharing, bool OwnDefault, int Limit,
               std::shared_ptr<TLogWriterState> State);
    ~TLogWriter() override;

    // Opens the file and takes in a side file left by a program that ended.
    void Start();
    void Take(const TSwipeRecord& Swipe);
    // Take and one try at once; true, with the row's id, when it was committed.
    bool TakeNow(TSwipeRecord& Swipe);
    void Mark(const std::vector<qint64>& Ids);
    void TakeChange(const TChangeRecord& Change);
    // Removes the rows before Before, a short transaction at a time.
    void Prune(const QDateTime& Before);
    // A last try; what is left goes to the side file. Closes the connection.
    TLogClosing Finish();

signals:
    void Committed(const std::vector<TSwipeRecord>& Rows);
    // Swipes that could not be written now and wait.
    void Held(const std::vector<TSwipeRecord>& Swipes);
    // Swipes of a side file were written.
    void Imported(int Count);
    void Pruned(int Removed); // -1: it failed, and Problem says why
    void Changed();

private:
    bool Open();
    QSqlDatabase Database() const;
    void TakeInSideFile();
    void PostAttempt();
    void Attempt();
    void Failed();
    void PruneStep();
    void EndPrune(int Removed);
    void SetProblem(const QString& Problem);

    QString FPath;
    TLogSharing FSharing;
    bool FOwnDefault;
    int FLimit;
    std::shared_ptr<TLogWriterState> FState;
    QString FConnection;
    bool FOpen = false;
    std::deque<TSwipeRecord> FQueue; // oldest first
    size_t FHeld = 0;                // how many at its front were said held
    int FUnsaved = 0;
    qint64 FLastId = 0;
    std::vector<qint64> FMarks;
    std::vector<TChangeRecord> FChanges;
    bool FAttemptPosted = false;
    int FBackoffMs = 0;
    QTimer* FRetry;                  // owned as a child
    QTimer* FNextBatch;              // owned as a child
    std::optional<QDateTime> FPruneBefore;
    int FPruned = 0;
};
