#include "log/LogConnection.h"

#include "log/LogFault.h"
#include "log/Schema.h"
#include "log/SqlCall.h"

QString OpenLogConnection(QSqlDatabase& Db, const QString& Path, int BusyTimeoutMs)
{
    Db.close();
    if (!Db.isValid())
        return QStringLiteral("The access log %1 cannot be opened: Qt's SQLite driver is missing "
                              "(install libqt6sql6-sqlite)").arg(Path);
    Db.setDatabaseName(Path);
    Db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
    QString Problem;
    try {
        if (!Db.open())
            throw ESql(Db.lastError());
        Exec(Db, QStringLiteral("PRAGMA journal_mode = WAL"));
        Exec(Db, QStringLiteral("PRAGMA synchronous = FULL"));
        if (ForeignDatabase(Db))
            Problem = QStringLiteral("The file %1 is another program's database, not an access log: give the log "
                                     "a file of its own").arg(Path);
        else if (!MigrateSchema(Db))
            Problem = QStringLiteral("The access log %1 was written by a newer Dorvik Manager (version %2 of the log)")
                          .arg(Path).arg(FileSchemaVersion(Db));
    } catch (const ESql& E) {
        Problem = LogFaultText(Path, E.Error());
    }
    if (!Problem.isEmpty())
        Db.close();
    return Problem;
}
