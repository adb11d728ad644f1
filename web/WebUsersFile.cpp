#include "web/WebUsersFile.h"

#include "common/Errors.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr qint64 LargestFile = 1024 * 1024;

[[noreturn]] void Fail(const QString& FileName, const QString& Why)
{
    throw Exception(QStringLiteral("%1: %2").arg(FileName, Why).toStdString());
}

QString Errno() { return QString::fromLocal8Bit(std::strerror(errno)); }

QByteArray StampOf(const struct stat& S)
{
    return QByteArray::number(qulonglong(S.st_ino)) + '/' + QByteArray::number(qlonglong(S.st_size)) + '/' +
           QByteArray::number(qlonglong(S.st_mtim.tv_sec)) + '.' + QByteArray::number(qlonglong(S.st_mtim.tv_nsec)) + '/' +
           QByteArray::number(qlonglong(S.st_ctim.tv_sec)) + '.' + QByteArray::number(qlonglong(S.st_ctim.tv_nsec));
}

} // namespace

std::vector<TWebUser> LoadWebUsers(const QString& FileName)
{
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly))
        Fail(FileName, File.errorString());
    struct stat S{};
    if (fstat(File.handle(), &S) != 0)
        Fail(FileName, Errno());
    if (!S_ISREG(S.st_mode))
        Fail(FileName, QStringLiteral("is not a plain file"));
    if (S.st_mode & S_IRWXO)
        Fail(FileName, QStringLiteral("may be read by anyone: it is not used until 'chmod o= %1'").arg(FileName));
    if (S.st_size > LargestFile)
        Fail(FileName, QStringLiteral("is larger than %1 bytes").arg(LargestFile));
    return ParseWebUsers(FileName, File.read(LargestFile));
}

void SaveWebUsers(const QString& FileName, const std::vector<TWebUser>& Users)
{
    struct stat Old{};
    const bool Replacing = stat(QFile::encodeName(FileName).constData(), &Old) == 0;
    uid_t Owner = Replacing ? Old.st_uid : geteuid();
    gid_t Group = Replacing ? Old.st_gid : getegid();
    if (!Replacing)
        if (const struct group* Dorvik = getgrnam("dorvik"); Dorvik && geteuid() == 0)
            Group = Dorvik->gr_gid;
    QSaveFile File(FileName);
    if (!File.open(QIODevice::WriteOnly))
        Fail(FileName, File.errorString());
    // Before a byte of it is written: the temporary file is never readable by others.
    if (fchmod(File.handle(), 0640) != 0)
        Fail(FileName, Errno());
    if ((Owner != geteuid() || Group != getegid()) && fchown(File.handle(), Owner, Group) != 0)
        Fail(FileName, QStringLiteral("cannot give it to its owner and group: %1").arg(Errno()));
    const QByteArray Text = WebUsersText(Users);
    if (File.write(Text) != Text.size() || !File.commit())
        Fail(FileName, File.errorString());
}

std::optional<TWebUser> TWebUsersFile::Find(const QString& Name)
{
    Refresh();
    for (const TWebUser& U : FUsers)
        if (U.Name == Name)
            return U;
    return std::nullopt;
}

QString TWebUsersFile::Problem()
{
    Refresh();
    return FProblem;
}

void TWebUsersFile::Refresh()
{
    struct stat S{};
    const QByteArray Stamp = stat(QFile::encodeName(FFileName).constData(), &S) == 0 ? StampOf(S) : QByteArray("none");
    if (Stamp == FStamp)
        return;
    FStamp = Stamp;
    FUsers.clear();
    try {
        FUsers = LoadWebUsers(FFileName);
        FProblem.clear();
    } catch (const std::exception& E) {
        FProblem = QString::fromUtf8(E.what());
    }
}
