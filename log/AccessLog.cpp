#include "log/AccessLog.h"

#include "log/LogFault.h"
#include "log/Schema.h"
#include "log/SqlCall.h"
#include "log/SwipeWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

namespace {

// Long enough for another program's write to end, short enough not to freeze a window.
constexpr int BusyTimeoutMs = 5000;

} // namespace

TAccessLog::TAccessLog(const QString& Path)
    : FPath(Path), FConnection(QStringLiteral("dorvik-log-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
{
    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FConnection);
    Open();
}

TAccessLog::~TAccessLog()
{
    Flush();
    // Every handle on the connection must be gone before it is removed.
    {
        QSqlDatabase Db = Database();
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

QSqlDatabase TAccessLog::Database() const { return QSqlDatabase::database(FConnection, false); }

bool TAccessLog::Open()
{
    QSqlDatabase Db = Database();
    Db.close();
    FReadyToWrite = false;
    if (!Db.isValid()) {
        FProblem = QStringLiteral("The access log %1 cannot be opened: Qt's SQLite driver is missing "
                                  "(install libqt6sql6-sqlite)").arg(FPath);
        return false;
    }
    if (!QDir().mkpath(QFileInfo(FPath).absolutePath())) {
        FProblem = QStringLiteral("The folder of the access log %1 cannot be created").arg(FPath);
        return false;
    }
    Db.setDatabaseName(FPath);
    Db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
    try {
        if (!Db.open())
            throw ESql(Db.lastError());
        Exec(Db, QStringLiteral("PRAGMA journal_mode = WAL"));
        Exec(Db, QStringLiteral("PRAGMA synchronous = FULL"));
        if (!MigrateSchema(Db)) {
            FProblem = QStringLiteral("The access log %1 was written by a newer Dorvik Manager (version %2 of the log)")
                           .arg(FPath).arg(FileSchemaVersion(Db));
            Db.close();
            return false;
        }
    } catch (const ESql& E) {
        Fail(E.Error());
        Db.close();
        return false;
    }
    FReadyToWrite = true;
    if (FPending.empty())
        FProblem.clear();
    return true;
}

void TAccessLog::Fail(const QSqlError& Error) const
{
    FProblem = LogFaultText(FPath, Error);
}

void TAccessLog::WriteFailed(const QSqlError& Error)
{
    // Opened again at once so that reading goes on, and once more before the next write, when
    // the file may have become writable.
    if (LogFaultNeedsReopen(Error)) {
        Open();
        FReadyToWrite = false;
    }
    Fail(Error);
}

void TAccessLog::Keep(const TSwipeRecord& Swipe)
{
    if (FPending.size() >= size_t(PendingLimit)) {
        FPending.pop_front();
        ++FDropped;
    }
    FPending.push_back(Swipe);
}

bool TAccessLog::Record(TSwipeRecord& Swipe)
{
    Keep(Swipe);
    if (!Flush())
        return false;
    Swipe.Id = FLastId;
    return true;
}

bool TAccessLog::Flush()
{
    if (FPending.empty())
        return true;
    if (!FReadyToWrite && !Open())
        return false;
    try {
        const QSqlDatabase Db = Database();
        TTransaction Batch(Db);
        TSwipeWriter Writer(Db);
        for (TSwipeRecord& Swipe : FPending)
            Writer.Write(Swipe);
        Batch.Commit();
    } catch (const ESql& E) {
        WriteFailed(E.Error());
        return false;
    }
    FLastId = FPending.back().Id;
    FPending.clear();
    FDropped = 0;
    FProblem.clear();
    return true;
}

QString TAccessLog::Error() const
{
    if (FPending.empty() || FProblem.isEmpty())
        return FProblem;
    QString Text = FProblem + QStringLiteral(": swipes are kept in memory until it can be written");
    if (FDropped > 0)
        Text += QStringLiteral(" (the %1 oldest were dropped for room)").arg(FDropped);
    return Text;
}

std::vector<TSwipeRecord> TAccessLog::Query(const TLogQuery& Q) const
{
    return Swipes([&] { return SelectSwipes(Database(), Q); });
}

std::vector<TSwipeRecord> TAccessLog::Unpublished(int Limit, qint64 AfterId) const
{
    return Swipes([&] {
        return Exec(Database(),
                    QStringLiteral("SELECT s.Id, s.Time, s.Door, s.Bytes, s.CardNumber, n.Name, s.Known "
                                   "FROM Swipes s INDEXED BY SwipesUnpublished JOIN Names n ON n.Id = s.NameId "
                                   "WHERE s.Published = 0 AND s.Id > ? ORDER BY s.Id LIMIT ?"),
                    {AfterId, Limit});
    });
}

// Every row of a query; none, with Error() set, when the file cannot be read.
std::vector<TSwipeRecord> TAccessLog::Swipes(const std::function<QSqlQuery()>& Select) const
{
    std::vector<TSwipeRecord> Result;
    if (!Database().isOpen())
        return Result;
    try {
        QSqlQuery Rows = Select();
        while (Rows.next())
            Result.push_back(SwipeAt(Rows));
        if (Rows.lastError().isValid())
            throw ESql(Rows.lastError());
    } catch (const ESql& E) {
        Fail(E.Error());
        Result.clear();
    }
    return Result;
}

bool TAccessLog::MarkPublished(const std::vector<qint64>& Ids)
{
    if (Ids.empty())
        return true;
    if (!FReadyToWrite && !Open())
        return false;
    try {
        const QSqlDatabase Db = Database();
        TTransaction Marks(Db);
        QSqlQuery Mark(Db);
        if (!Mark.prepare(QStringLiteral("UPDATE Swipes SET Published = 1 WHERE Id = ?")))
            throw ESql(Mark.lastError());
        for (qint64 Id : Ids) {
            Mark.addBindValue(Id);
            Exec(Mark);
        }
        Marks.Commit();
        return true;
    } catch (const ESql& E) {
        WriteFailed(E.Error());
        return false;
    }
}

int TAccessLog::Prune(const QDateTime& Before)
{
    if (!FReadyToWrite && !Open())
        return -1;
    try {
        const QSqlDatabase Db = Database();
        TTransaction Removal(Db);
        const int Removed = Exec(Db, QStringLiteral("DELETE FROM Swipes WHERE Time < ?"), {Before.toMSecsSinceEpoch()})
                                .numRowsAffected();
        // A pruned person's name goes with their last swipe.
        Exec(Db, QStringLiteral("DELETE FROM Names WHERE NOT EXISTS (SELECT 1 FROM Swipes WHERE NameId = Names.Id)"));
        Removal.Commit();
        return Removed;
    } catch (const ESql& E) {
        WriteFailed(E.Error());
        return -1;
    }
}
