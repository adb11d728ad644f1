#pragma once

#include "support/QtPrinters.h"

#include "support/TestSupport.h"

#include "log/AccessLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QUuid>

#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

// A swipe of card Value at Door, At a moment; named, and so known, when Name is not empty.
inline TSwipeRecord TestSwipe(const QDateTime& At, const QString& Door, uint32_t Value, const QString& Name = {})
{
    TRfidTag Card;
    Card.Bytes = {0x01, uint8_t(Value >> 24), uint8_t(Value >> 16), uint8_t(Value >> 8), uint8_t(Value)};
    TSwipeRecord Swipe = MakeSwipeRecord(Card, Door, nullptr);
    Swipe.Time = At.toUTC();
    Swipe.Name = Name;
    Swipe.Known = !Name.isEmpty();
    return Swipe;
}

inline std::vector<qint64> SwipeIds(const std::vector<TSwipeRecord>& Swipes)
{
    std::vector<qint64> Ids;
    for (const TSwipeRecord& Swipe : Swipes)
        Ids.push_back(Swipe.Id);
    return Ids;
}

// Root writes where file modes say no: while this lives, the process acts as nobody on files
// (Folder given to nobody first), so a read-only file or folder is read-only to the log too.
class TActAsNobody
{
public:
    explicit TActAsNobody(const QString& Folder)
    {
        if (geteuid() != 0)
            return;
        FWasRoot = chown(Folder.toLocal8Bit().constData(), Nobody, Nobody) == 0 && setegid(Nobody) == 0 &&
                   seteuid(Nobody) == 0;
    }
    ~TActAsNobody()
    {
        // Going on as nobody would make every later test wrong.
        if (FWasRoot && (seteuid(0) != 0 || setegid(0) != 0))
            std::abort();
    }
    TActAsNobody(const TActAsNobody&) = delete;
    TActAsNobody& operator=(const TActAsNobody&) = delete;

private:
    static constexpr uid_t Nobody = 65534;
    bool FWasRoot = false;
};

// Another program holding the log's write lock, as sqlite3 does inside BEGIN IMMEDIATE, until
// Release.
class TLogLock
{
public:
    explicit TLogLock(const QString& Path) : FPath(Path)
    {
        FShell.start(QStringLiteral("sqlite3"), {Path});
        FShell.write("BEGIN IMMEDIATE;\nINSERT INTO Counters VALUES('held', 1);\n");
        FHeld = FShell.waitForStarted() && WaitUntil([this] { return !MayWrite(); });
    }
    ~TLogLock() { Release(); }
    TLogLock(const TLogLock&) = delete;
    TLogLock& operator=(const TLogLock&) = delete;

    bool Held() const { return FHeld; }
    void Release()
    {
        if (FShell.state() == QProcess::NotRunning)
            return;
        FShell.write("ROLLBACK;\n.quit\n");
        FShell.closeWriteChannel();
        FShell.waitForFinished();
    }

private:
    // A writer that does not wait: refused while the lock is held.
    bool MayWrite() const
    {
        const QString Name = QUuid::createUuid().toString();
        bool Free = false;
        {
            QSqlDatabase Probe = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), Name);
            Probe.setDatabaseName(FPath);
            Probe.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
            Free = Probe.open() && QSqlQuery(Probe).exec(QStringLiteral("BEGIN IMMEDIATE"));
            QSqlQuery(Probe).exec(QStringLiteral("ROLLBACK"));
        }
        QSqlDatabase::removeDatabase(Name);
        return Free;
    }

    QString FPath;
    QProcess FShell;
    bool FHeld = false;
};

// A disk of a few pages mounted at Folder (root only), filled up at will.
class TSmallDisk
{
public:
    explicit TSmallDisk(const QString& Folder) : FFolder(Folder)
    {
        QDir().mkpath(Folder);
        FMounted = ::mount("tmpfs", QFile::encodeName(Folder).constData(), "tmpfs", 0, "size=256k,mode=0777") == 0;
    }
    ~TSmallDisk()
    {
        if (FMounted)
            ::umount2(QFile::encodeName(FFolder).constData(), MNT_DETACH);
    }
    TSmallDisk(const TSmallDisk&) = delete;
    TSmallDisk& operator=(const TSmallDisk&) = delete;

    bool Mounted() const { return FMounted; }
    void Fill()
    {
        QFile Filler(FFolder + QStringLiteral("/filler"));
        Filler.open(QIODevice::WriteOnly);
        const QByteArray Block(4096, 'f');
        while (Filler.write(Block) == Block.size() && Filler.flush()) {
        }
    }
    void Free() { QFile::remove(FFolder + QStringLiteral("/filler")); }

private:
    QString FFolder;
    bool FMounted = false;
};
