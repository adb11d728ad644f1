#include "log/LogFault.h"

#include <QFile>
#include <QFileInfo>

#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// SQLite's primary result codes; an extended code carries its primary one in the low byte.
enum TSqliteCode {
    scBusy = 5,
    scLocked = 6,
    scReadOnly = 8,
    scIoError = 10,
    scCorrupt = 11,
    scFull = 13,
    scCantOpen = 14,
    scNotADatabase = 26,
};

int PrimaryCode(const QSqlError& Error) { return Error.nativeErrorCode().toInt() & 0xFF; }

// As the program's effective user, which QFileInfo does not ask about.
bool MayWrite(const QString& Path) { return euidaccess(QFile::encodeName(Path).constData(), W_OK) == 0; }

QString CannotOpenText(const QString& Path)
{
    const QFileInfo File(Path);
    if (!File.exists() && !MayWrite(File.absolutePath()))
        return QStringLiteral("The access log %1 cannot be created: its folder is read-only").arg(Path);
    return QStringLiteral("The access log %1 cannot be opened").arg(Path);
}

// SQLite makes its -wal and -shm files with the database's mode, so they may stay read-only
// after the database itself was made writable.
QString ReadOnlyText(const QString& Path)
{
    for (const char* Suffix : {"-wal", "-shm"}) {
        const QString Beside = Path + QLatin1String(Suffix);
        if (MayWrite(Path) && QFileInfo::exists(Beside) && !MayWrite(Beside))
            return QStringLiteral("The access log %1 cannot be written: %2 is read-only").arg(Path, Beside);
    }
    return QStringLiteral("The access log %1 is read-only").arg(Path);
}

// SQLite says only "disk I/O error" when a full disk refuses its -wal or -shm file.
bool DiskFull(const QString& Path)
{
    struct statvfs Disk {};
    return statvfs(QFile::encodeName(QFileInfo(Path).absolutePath()).constData(), &Disk) == 0 && Disk.f_bavail == 0;
}

} // namespace

QString LogFaultText(const QString& Path, const QSqlError& Error)
{
    const int Code = PrimaryCode(Error);
    switch (Code == scIoError && DiskFull(Path) ? scFull : Code) {
    case scReadOnly: return ReadOnlyText(Path);
    case scFull: return QStringLiteral("The access log %1 is full (its disk or its size limit)").arg(Path);
    case scBusy:
    case scLocked: return QStringLiteral("The access log %1 is locked by another program").arg(Path);
    case scCorrupt:
    case scNotADatabase:
        // A -wal left beside a new file would be played into it.
        return QStringLiteral("The access log %1 is damaged or not an access log (move it away with %1-wal and %1-shm "
                              "beside it, all three, to start a new one)").arg(Path);
    case scCantOpen: return CannotOpenText(Path);
    case scIoError: return QStringLiteral("The access log %1 cannot be read or written (input/output error)").arg(Path);
    }
    const QString Why = Error.databaseText().isEmpty() ? Error.text() : Error.databaseText();
    return QStringLiteral("The access log %1 cannot be used (%2)").arg(Path, Why);
}

bool LogFaultNeedsReopen(const QSqlError& Error)
{
    const int Code = PrimaryCode(Error);
    return Code == scReadOnly || Code == scCantOpen || Code == scCorrupt || Code == scNotADatabase;
}
