#include "log/LogFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t FolderMode(TLogSharing Sharing) { return Sharing == TLogSharing::Private ? 0700 : 0750; }
mode_t FileMode(TLogSharing Sharing) { return Sharing == TLogSharing::Private ? 0600 : 0640; }

QByteArray Native(const QString& Path) { return QFile::encodeName(Path); }

QString SystemText(int Error) { return QString::fromLocal8Bit(std::strerror(Error)); }

// Each folder made here gets Mode; those already there are left as they are.
bool MakeFolders(const QString& Folder, mode_t Mode)
{
    const QFileInfo Info(Folder);
    if (Info.exists())
        return Info.isDir();
    if (!MakeFolders(QFileInfo(Folder).absolutePath(), Mode))
        return false;
    if (::mkdir(Native(Folder).constData(), Mode) != 0 && errno != EEXIST)
        return false;
    return ::chmod(Native(Folder).constData(), Mode) == 0 || errno == EPERM;
}

// Only ever narrows, and only what this user owns.
void CloseToOthers(const QString& Path, mode_t Mode)
{
    struct stat Info {};
    if (::stat(Native(Path).constData(), &Info) != 0 || Info.st_uid != ::geteuid())
        return;
    if ((Info.st_mode & 07777 & ~Mode) != 0)
        ::chmod(Native(Path).constData(), Info.st_mode & Mode);
}

void SyncFolder(const QString& Path)
{
    const int Folder = ::open(Native(QFileInfo(Path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Folder >= 0) {
        ::fsync(Folder);
        ::close(Folder);
    }
}

} // namespace

QString PrepareLogFile(const QString& Path, TLogSharing Sharing, bool OwnDefault)
{
    const QString Folder = QFileInfo(Path).absolutePath();
    if (!MakeFolders(Folder, FolderMode(Sharing)))
        return QStringLiteral("The folder of the access log %1 cannot be created").arg(Path);
    if (OwnDefault) {
        CloseToOthers(Folder, FolderMode(Sharing));
        for (const char* Suffix : {"", "-wal", "-shm", ".pending"})
            CloseToOthers(Path + QLatin1String(Suffix), FileMode(Sharing));
    }
    const int File = ::open(Native(Path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, FileMode(Sharing));
    if (File >= 0) {
        // The umask may have taken bits the group needs.
        ::fchmod(File, FileMode(Sharing));
        ::close(File);
    }
    return {};
}

QString PendingFilePath(const QString& LogPath) { return LogPath + QStringLiteral(".pending"); }

TPendingFileLock::TPendingFileLock(const QString& LogPath, bool Create, TLogSharing Sharing)
    : FPath(PendingFilePath(LogPath))
{
    // Another program may have taken the file in and removed it while this one waited for the
    // lock: then the lock is on a file nobody will read, and it is opened again.
    for (int Tries = 0; Tries < 5; ++Tries) {
        const int Flags = O_RDWR | O_APPEND | O_CLOEXEC | (Create ? O_CREAT : 0);
        FHandle = ::open(Native(FPath).constData(), Flags, FileMode(Sharing));
        if (FHandle < 0) {
            if (errno != ENOENT || Create)
                FProblem = QStringLiteral("%1 cannot be opened: %2").arg(FPath, SystemText(errno));
            return;
        }
        struct stat Info {};
        if (::flock(FHandle, LOCK_EX) == 0 && ::fstat(FHandle, &Info) == 0 && Info.st_nlink > 0)
            return;
        ::close(FHandle);
        FHandle = -1;
    }
    FProblem = QStringLiteral("%1 cannot be locked").arg(FPath);
}

TPendingFileLock::~TPendingFileLock()
{
    if (FHandle >= 0)
        ::close(FHandle); // lets go of the lock too
}

QByteArray TPendingFileLock::ReadAll()
{
    QByteArray Text;
    if (FHandle < 0 || ::lseek(FHandle, 0, SEEK_SET) < 0)
        return Text;
    char Buffer[65536];
    for (;;) {
        const ssize_t Got = ::read(FHandle, Buffer, sizeof Buffer);
        if (Got < 0 && errno == EINTR)
            continue;
        if (Got <= 0)
            return Text;
        Text.append(Buffer, Got);
    }
}

bool TPendingFileLock::Append(const QByteArray& Text)
{
    qsizetype Done = 0;
    while (FHandle >= 0 && Done < Text.size()) {
        const ssize_t Put = ::write(FHandle, Text.constData() + Done, size_t(Text.size() - Done));
        if (Put < 0 && errno == EINTR)
            continue;
        if (Put <= 0) {
            FProblem = QStringLiteral("%1 cannot be written: %2").arg(FPath, SystemText(errno));
            return false;
        }
        Done += Put;
    }
    if (FHandle < 0 || ::fsync(FHandle) != 0)
        return false;
    SyncFolder(FPath);
    return true;
}

void TPendingFileLock::Remove()
{
    if (FHandle < 0)
        return;
    ::unlink(Native(FPath).constData());
    SyncFolder(FPath);
}
