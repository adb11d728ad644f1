#include "log/AccessLog.h"

#include "log/LogConnection.h"
#include "log/LogFault.h"
#include "log/PendingSwipes.h"
#include "log/Schema.h"
#include "log/SqlCall.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QUuid>

#include <limits>

namespace {

// Reading never waits long for the lock a writer holds (WAL readers seldom need one at all).
constexpr int ReadBusyTimeoutMs = 250;

} // namespace

TAccessLog::TAccessLog(const QString& Path, TUse Use, TLogSharing Sharing, QObject* Owner)
    : QObject(Owner), FPath(Path), FUse(Use), FSharing(Sharing),
      FConnection(QStringLiteral("dorvik-log-") + QUuid::createUuid().toString(QUuid::WithoutBraces)),
      FState(std::make_shared<TLogWriterState>())
{
    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FConnection);
    if (Use == TUse::Read)
        OpenReader();
    else
        StartWriter();
}

void TAccessLog::StartWriter()
{
    if (FWriter || FClosed)
        return;
    FWriter = new TLogWriter(FPath, FSharing, FPath == DefaultPath(), PendingLimit, FState);
    FWriter->moveToThread(&FThread);
    connect(FWriter, &TLogWriter::Committed, this, &TAccessLog::Committed);
    connect(FWriter, &TLogWriter::Held, this, &TAccessLog::Held);
    connect(FWriter, &TLogWriter::Imported, this, &TAccessLog::Imported);
    connect(FWriter, &TLogWriter::Pruned, this, &TAccessLog::Pruned);
    connect(FWriter, &TLogWriter::Changed, this, &TAccessLog::Changed);
    FThread.setObjectName(QStringLiteral("access log"));
    FThread.start();
    QMetaObject::invokeMethod(FWriter, &TLogWriter::Start, Qt::QueuedConnection);
}

TAccessLog::~TAccessLog()
{
    Close();
    // Every handle on the connection must be gone before it is removed.
    {
        QSqlDatabase Db = QSqlDatabase::database(FConnection, false);
        Db.close();
    }
    QSqlDatabase::removeDatabase(FConnection);
}

QString TAccessLog::DefaultPath()
{
    QString State = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(State))
        State = QDir::homePath() + QStringLiteral("/.local/state");
    return State + QStringLiteral("/dorvik/access.db");
}

// ---- writing

void TAccessLog::Record(const TSwipeRecord& Swipe)
{
    StartWriter();
    if (!FWriter)
        return;
    ++FTaken;
    QMetaObject::invokeMethod(FWriter, [Writer = FWriter, Swipe] { Writer->Take(Swipe); }, Qt::QueuedConnection);
}

void TAccessLog::MarkPublished(const std::vector<qint64>& Ids)
{
    StartWriter();
    if (FWriter && !Ids.empty())
        QMetaObject::invokeMethod(FWriter, [Writer = FWriter, Ids] { Writer->Mark(Ids); }, Qt::QueuedConnection);
}

void TAccessLog::RecordChange(const TChangeRecord& Change)
{
    StartWriter();
    if (FWriter)
        QMetaObject::invokeMethod(FWriter, [Writer = FWriter, Change] { Writer->TakeChange(Change); }, Qt::QueuedConnection);
}

void TAccessLog::Prune(const QDateTime& Before)
{
    StartWriter();
    if (!FWriter)
        return emit Pruned(-1);
    QMetaObject::invokeMethod(FWriter, [Writer = FWriter, Before] { Writer->Prune(Before); }, Qt::QueuedConnection);
}

bool TAccessLog::Commit(TSwipeRecord& Swipe)
{
    StartWriter();
    if (!FWriter)
        return false;
    ++FTaken;
    bool Done = false;
    QMetaObject::invokeMethod(FWriter, [&] { Done = FWriter->TakeNow(Swipe); }, Qt::BlockingQueuedConnection);
    return Done;
}

TLogClosing TAccessLog::Close()
{
    TLogClosing Closing;
    FClosed = true;
    if (!FWriter)
        return Closing;
    QMetaObject::invokeMethod(FWriter, [&] { Closing = FWriter->Finish(); }, Qt::BlockingQueuedConnection);
    FThread.quit();
    FThread.wait();
    delete std::exchange(FWriter, nullptr);
    return Closing;
}

int TAccessLog::Pending() const
{
    const QMutexLocker Locked(&FState->Lock);
    return int(FTaken - FState->Settled);
}

QString TAccessLog::Error() const
{
    QString Problem;
    int Dropped = 0;
    {
        const QMutexLocker Locked(&FState->Lock);
        Problem = FState->Problem;
        Dropped = FState->Unsaved;
    }
    if (Problem.isEmpty()) {
        OpenReader(); // what kept it from being read may have been mended since
        return FReadProblem;
    }
    if (Pending() == 0)
        return Problem;
    Problem += QStringLiteral(": swipes are kept in memory until it can be written");
    if (Dropped > 0)
        Problem += QStringLiteral(" (the %1 oldest were dropped for room)").arg(Dropped);
    return Problem;
}

// ---- reading

// A log that records is read once its writer has made the file ready; one that only reads
// brings the file to this version itself, as the first program after an upgrade may be a reader.
bool TAccessLog::OpenReader() const
{
    if (FReaderOpen)
        return true;
    QSqlDatabase Db = QSqlDatabase::database(FConnection, false);
    if (FUse == TUse::Record) {
        const QMutexLocker Locked(&FState->Lock);
        if (!FState->Opened)
            return false;
    } else if (const QString Why = PrepareLogFile(FPath, TLogSharing::Private, false); !Why.isEmpty()) {
        FReadProblem = Why;
        return false;
    }
    FReadProblem = OpenLogConnection(Db, FPath, ReadBusyTimeoutMs);
    FReaderOpen = FReadProblem.isEmpty();
    return FReaderOpen;
}

QSqlDatabase TAccessLog::Database() const
{
    OpenReader();
    return QSqlDatabase::database(FConnection, false);
}

void TAccessLog::Fail(const QSqlError& Error) const
{
    FReadProblem = LogFaultText(FPath, Error);
    if (LogFaultNeedsReopen(Error)) {
        QSqlDatabase::database(FConnection, false).close();
        FReaderOpen = false;
    }
}

std::vector<TSwipeRecord> TAccessLog::Query(const TLogQuery& Q) const
{
    return Swipes([&] { return SelectSwipes(Database(), Q); });
}

std::vector<TSwipeRecord> TAccessLog::Unpublished(int Limit, qint64 AfterId) const
{
    return Swipes([&] {
        return Exec(Database(),
                    SwipeColumns() + QStringLiteral(" FROM Swipes s INDEXED BY SwipesUnpublished JOIN Names n ON n.Id = s.NameId "
                                                    "WHERE s.Published = 0 AND s.Id > ? ORDER BY s.Id LIMIT ?"),
                    {AfterId, Limit});
    });
}

// Every row of a query; none, with Error() set, when the file cannot be read.
std::vector<TSwipeRecord> TAccessLog::Swipes(const std::function<QSqlQuery()>& Select) const
{
    std::vector<TSwipeRecord> Result;
    const QString Problem = ForEachRow(Select, [&](const TSwipeRecord& Swipe) {
        Result.push_back(Swipe);
        return true;
    });
    if (!Problem.isEmpty())
        Result.clear();
    return Result;
}

QString TAccessLog::ForEach(const TLogStatement& Statement, const std::function<bool(const TSwipeRecord&)>& Take) const
{
    return ForEachRow([&] { return Exec(Database(), Statement.Sql, Statement.Values); }, Take);
}

QString TAccessLog::ForEachRow(const std::function<QSqlQuery()>& Select,
                               const std::function<bool(const TSwipeRecord&)>& Take) const
{
    if (!OpenReader())
        return FReadProblem;
    try {
        QSqlQuery Rows = Select();
        while (Rows.next() && Take(SwipeAt(Rows))) {
        }
        if (Rows.lastError().isValid())
            throw ESql(Rows.lastError());
    } catch (const ESql& E) {
        Fail(E.Error());
        return FReadProblem;
    }
    FReadProblem.clear();
    return {};
}

TLogStatus TAccessLog::Status() const
{
    TLogStatus Status;
    // Read without its lock: it is only ever appended to, and this only counts.
    QFile Side(PendingFilePath(FPath));
    if (Side.open(QIODevice::ReadOnly))
        for (const TPendingSegment& Segment : PendingSegments(Side.readAll()))
            Status.Waiting += int(Segment.Swipes.size());
    Status.Dropped = Dropped();
    if (OpenReader()) {
        try {
            const QSqlDatabase Db = Database();
            Status.Version = FileSchemaVersion(Db);
            QSqlQuery Rows = Exec(Db, QStringLiteral("SELECT count(*) FROM Swipes"));
            Status.Rows = Rows.next() ? Rows.value(0).toLongLong() : 0;
        } catch (const ESql& E) {
            Fail(E.Error());
        }
    }
    Status.Problem = Error();
    return Status;
}

std::vector<TChangeRecord> TAccessLog::Changes(const std::optional<QDateTime>& Since,
                                               const std::optional<QDateTime>& Until, int Limit) const
{
    std::vector<TChangeRecord> Found;
    if (!OpenReader())
        return Found;
    QString Sql = QStringLiteral("SELECT Id, Time, User, Address, What FROM Changes WHERE Time >= ? AND Time < ? "
                                 "ORDER BY Time DESC, Id DESC");
    QVariantList Values{Since ? Since->toMSecsSinceEpoch() : std::numeric_limits<qint64>::min(),
                        Until ? Until->toMSecsSinceEpoch() : std::numeric_limits<qint64>::max()};
    if (Limit > 0) {
        Sql += QStringLiteral(" LIMIT ?");
        Values << Limit;
    }
    try {
        QSqlQuery Rows = Exec(Database(), Sql, Values);
        while (Rows.next())
            Found.push_back({Rows.value(0).toLongLong(), QDateTime::fromMSecsSinceEpoch(Rows.value(1).toLongLong(), Qt::UTC),
                             Rows.value(2).toString(), Rows.value(3).toString(), Rows.value(4).toString()});
    } catch (const ESql& E) {
        Fail(E.Error());
        Found.clear();
    }
    return Found;
}

qint64 TAccessLog::Dropped() const
{
    qint64 Count = 0;
    {
        const QMutexLocker Locked(&FState->Lock);
        Count = FState->Unsaved;
    }
    if (!OpenReader())
        return Count;
    try {
        QSqlQuery Saved = Exec(Database(), QStringLiteral("SELECT Value FROM Counters WHERE Name = 'dropped'"));
        Count += Saved.next() ? Saved.value(0).toLongLong() : 0;
    } catch (const ESql& E) {
        Fail(E.Error());
    }
    return Count;
}
