#include "log/LogWriter.h"

#include "log/LogConnection.h"
#include "log/LogFault.h"
#include "log/PendingSwipes.h"
#include "log/SqlCall.h"
#include "log/SwipeWriter.h"

#include <QMutexLocker>
#include <QSqlDatabase>
#include <QTimer>
#include <QUuid>

#include <algorithm>

namespace {

// Long enough for another program's short write to end; the wait is this thread's alone.
constexpr int BusyTimeoutMs = 2000;
constexpr int FirstRetryMs = 1000;
constexpr int LastRetryMs = 30000;
// Pruning takes the lock for one batch at a time and then lets it go for as long, so that the
// other programs' writers, waiting in SQLite's busy handler, get in between.
constexpr int PruneBatch = 2000;
constexpr int PruneGapMs = 40;

void AddDropped(const QSqlDatabase& Db, int Count)
{
    if (Count > 0)
        Exec(Db, QStringLiteral("INSERT INTO Counters(Name, Value) VALUES('dropped', ?) "
                                "ON CONFLICT(Name) DO UPDATE SET Value = Value + excluded.Value"), {Count});
}

void MarkPublished(const QSqlDatabase& Db, const std::vector<qint64>& Ids)
{
    if (Ids.empty())
        return;
    QSqlQuery Mark(Db);
    if (!Mark.prepare(QStringLiteral("UPDATE Swipes SET Published = 1 WHERE Id = ?")))
        throw ESql(Mark.lastError());
    for (qint64 Id : Ids) {
        Mark.addBindValue(Id);
        Exec(Mark);
    }
}

// Qt binds a null string as NULL, which the columns refuse.
QString Text(const QString& Value) { return Value.isNull() ? QStringLiteral("") : Value; }

void WriteChanges(const QSqlDatabase& Db, std::vector<TChangeRecord>& Changes)
{
    for (TChangeRecord& Change : Changes)
        Change.Id = Exec(Db, QStringLiteral("INSERT INTO Changes(Time, User, Address, What) VALUES(?, ?, ?, ?)"),
                         {Change.Time.toMSecsSinceEpoch(), Text(Change.User), Text(Change.Address), Text(Change.What)})
                        .lastInsertId()
                        .toLongLong();
}

bool AlreadyImported(const QSqlDatabase& Db, const QString& Token)
{
    return Exec(Db, QStringLiteral("SELECT 1 FROM Imports WHERE Token = ?"), {Token}).next();
}

} // namespace

TLogWriter::TLogWriter(const QString& Path, TLogSharing Sharing, bool OwnDefault, int Limit,
                       std::shared_ptr<TLogWriterState> State)
    : FPath(Path), FSharing(Sharing), FOwnDefault(OwnDefault), FLimit(Limit), FState(std::move(State)),
      FConnection(QStringLiteral("dorvik-log-writer-") + QUuid::createUuid().toString(QUuid::WithoutBraces)),
      FRetry(new QTimer(this)), FNextBatch(new QTimer(this))
{
    FRetry->setSingleShot(true);
    connect(FRetry, &QTimer::timeout, this, &TLogWriter::Attempt);
    FNextBatch->setSingleShot(true);
    connect(FNextBatch, &QTimer::timeout, this, &TLogWriter::PruneStep);
}

TLogWriter::~TLogWriter()
{
    if (QSqlDatabase::contains(FConnection)) {
        Database().close();
        QSqlDatabase::removeDatabase(FConnection);
    }
}

QSqlDatabase TLogWriter::Database() const { return QSqlDatabase::database(FConnection, false); }

void TLogWriter::SetProblem(const QString& Problem)
{
    {
        const QMutexLocker Locked(&FState->Lock);
        if (FState->Problem == Problem)
            return;
        FState->Problem = Problem;
    }
    emit Changed();
}

void TLogWriter::Start()
{
    if (Open())
        PostAttempt();
}

bool TLogWriter::Open()
{
    if (FOpen)
        return true;
    if (const QString Why = PrepareLogFile(FPath, FSharing, FOwnDefault); !Why.isEmpty()) {
        SetProblem(Why);
        return false;
    }
    if (!QSqlDatabase::contains(FConnection))
        QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FConnection);
    QSqlDatabase Db = Database();
    if (const QString Why = OpenLogConnection(Db, FPath, BusyTimeoutMs); !Why.isEmpty()) {
        SetProblem(Why);
        return false;
    }
    FOpen = true;
    TakeInSideFile(); // read with the rest from the start
    {
        const QMutexLocker Locked(&FState->Lock);
        FState->Opened = true;
    }
    emit Changed();
    return true;
}

// Before anything of this run: the side file's swipes are older than any swipe taken now.
void TLogWriter::TakeInSideFile()
{
    TPendingFileLock File(FPath, false);
    if (!File.Held())
        return;
    int Count = 0;
    try {
        const QSqlDatabase Db = Database();
        TTransaction Batch(Db);
        TSwipeWriter Writer(Db);
        for (TPendingSegment& Segment : PendingSegments(File.ReadAll())) {
            if (AlreadyImported(Db, Segment.Token))
                continue;
            for (TSwipeRecord& Swipe : Segment.Swipes)
                Writer.Write(Swipe);
            WriteChanges(Db, Segment.Changes);
            Count += int(Segment.Swipes.size());
            AddDropped(Db, Segment.Dropped);
            Exec(Db, QStringLiteral("INSERT INTO Imports(Token) VALUES(?)"), {Segment.Token});
        }
        Batch.Commit();
    } catch (const ESql& E) {
        // It stays for the next program that opens the log.
        SetProblem(LogFaultText(FPath, E.Error()));
        return;
    }
    File.Remove();
    if (Count > 0)
        emit Imported(Count);
}

void TLogWriter::Take(const TSwipeRecord& Swipe)
{
    if (int(FQueue.size()) >= FLimit) {
        FQueue.pop_front();
        FHeld -= FHeld > 0 ? 1 : 0;
        ++FUnsaved;
        const QMutexLocker Locked(&FState->Lock);
        ++FState->Settled;
        ++FState->Unsaved;
    }
    FQueue.push_back(Swipe);
    FQueue.back().Id = 0;
    PostAttempt();
}

bool TLogWriter::TakeNow(TSwipeRecord& Swipe)
{
    Take(Swipe);
    Attempt();
    if (!FQueue.empty())
        return false;
    Swipe.Id = FLastId;
    return true;
}

void TLogWriter::Mark(const std::vector<qint64>& Ids)
{
    FMarks.insert(FMarks.end(), Ids.begin(), Ids.end());
    PostAttempt();
}

void TLogWriter::TakeChange(const TChangeRecord& Change)
{
    FChanges.push_back(Change);
    PostAttempt();
}

// Swipes that arrive while one commit runs are gathered into the next: one disk sync for many.
void TLogWriter::PostAttempt()
{
    if (std::exchange(FAttemptPosted, true))
        return;
    QMetaObject::invokeMethod(this, &TLogWriter::Attempt, Qt::QueuedConnection);
}

void TLogWriter::Attempt()
{
    FAttemptPosted = false;
    if (FQueue.empty() && FMarks.empty() && FChanges.empty() && FUnsaved == 0)
        return;
    if (!Open())
        return Failed();
    try {
        const QSqlDatabase Db = Database();
        TTransaction Batch(Db);
        TSwipeWriter Writer(Db);
        for (TSwipeRecord& Swipe : FQueue)
            Writer.Write(Swipe);
        MarkPublished(Db, FMarks);
        WriteChanges(Db, FChanges);
        AddDropped(Db, FUnsaved);
        Batch.Commit();
    } catch (const ESql& E) {
        for (TSwipeRecord& Swipe : FQueue)
            Swipe.Id = 0; // given by a transaction that was rolled back
        if (LogFaultNeedsReopen(E.Error())) {
            FOpen = false; // the file may be writable, or replaced, at the next try
            Database().close();
        }
        SetProblem(LogFaultText(FPath, E.Error()));
        return Failed();
    }
    std::vector<TSwipeRecord> Rows(FQueue.begin(), FQueue.end());
    FQueue.clear();
    FHeld = 0;
    FMarks.clear();
    FChanges.clear();
    {
        const QMutexLocker Locked(&FState->Lock);
        FState->Settled += qint64(Rows.size());
        FState->Unsaved -= FUnsaved;
    }
    FUnsaved = 0;
    if (!Rows.empty())
        FLastId = Rows.back().Id;
    FBackoffMs = 0;
    FRetry->stop();
    SetProblem({});
    if (!Rows.empty())
        emit Committed(Rows);
    emit Changed();
}

void TLogWriter::Failed()
{
    if (FHeld < FQueue.size()) {
        emit Held(std::vector<TSwipeRecord>(FQueue.begin() + qsizetype(FHeld), FQueue.end()));
        FHeld = FQueue.size();
    }
    emit Changed();
    FBackoffMs = FBackoffMs == 0 ? FirstRetryMs : std::min(2 * FBackoffMs, LastRetryMs);
    FRetry->start(FBackoffMs);
}

void TLogWriter::Prune(const QDateTime& Before)
{
    FPruneBefore = Before;
    FPruned = 0;
    PruneStep();
}

void TLogWriter::PruneStep()
{
    if (!FPruneBefore)
        return;
    if (!Open())
        return EndPrune(-1);
    int Removed = 0;
    try {
        const QSqlDatabase Db = Database();
        TTransaction Batch(Db);
        Removed = Exec(Db, QStringLiteral("DELETE FROM Swipes WHERE Id IN (SELECT Id FROM Swipes WHERE Time < ? "
                                          "ORDER BY Time LIMIT ?)"),
                       {FPruneBefore->toMSecsSinceEpoch(), PruneBatch})
                      .numRowsAffected();
        // A pruned person's name goes with their last swipe.
        if (Removed < PruneBatch)
            Exec(Db, QStringLiteral("DELETE FROM Names WHERE NOT EXISTS (SELECT 1 FROM Swipes WHERE NameId = Names.Id)"));
        Batch.Commit();
    } catch (const ESql& E) {
        SetProblem(LogFaultText(FPath, E.Error()));
        return EndPrune(-1);
    }
    FPruned += Removed;
    if (Removed < PruneBatch)
        return EndPrune(FPruned);
    FNextBatch->start(PruneGapMs);
}

void TLogWriter::EndPrune(int Removed)
{
    FPruneBefore.reset();
    emit Pruned(Removed);
}

TLogClosing TLogWriter::Finish()
{
    FRetry->stop();
    FNextBatch->stop();
    FPruneBefore.reset();
    Attempt();
    TLogClosing Closing;
    if (!FQueue.empty() || !FChanges.empty() || FUnsaved > 0) {
        TPendingFileLock File(FPath, true, FSharing);
        if (File.Held() && File.Append(PendingSegmentText(FQueue, FChanges, FUnsaved))) {
            Closing.SetAside = int(FQueue.size());
        } else {
            Closing.Lost = int(FQueue.size());
            Closing.Problem = File.Problem();
        }
        const QMutexLocker Locked(&FState->Lock);
        FState->Settled += qint64(FQueue.size());
        FQueue.clear();
    }
    if (QSqlDatabase::contains(FConnection)) {
        Database().close();
        QSqlDatabase::removeDatabase(FConnection);
    }
    FOpen = false;
    return Closing;
}
