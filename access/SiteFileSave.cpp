// The site file replaced whole, as the people who can read it now could before.

#include "access/SiteEdit.h"

#include "common/SystemError.h"

#include <QFile>
#include <QSaveFile>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

[[noreturn]] void CannotSave(const QString& FileName, const QString& Why)
{
    throw Exception(QStringLiteral("cannot write %1: %2").arg(FileName, Why).toStdString());
}

QString Errno(int Error) { return QString::fromLocal8Bit(ErrnoText(Error)); }

} // namespace

void SaveSiteFile(const QString& FileName, const QString& Text)
{
    struct stat Old {};
    const bool Exists = ::stat(QFile::encodeName(FileName).constData(), &Old) == 0;
    if (!Exists && errno != ENOENT)
        CannotSave(FileName, Errno(errno));
    QSaveFile File(FileName);
    if (!File.open(QIODevice::WriteOnly))
        CannotSave(FileName, File.errorString());
    // The temporary file is ours: give it the old file's mode and group before a byte is in it.
    const mode_t Mode = Exists ? Old.st_mode & 07777 : 0640;
    if (::fchmod(File.handle(), Mode) != 0 || (Exists && ::fchown(File.handle(), uid_t(-1), Old.st_gid) != 0)) {
        const int Error = errno;
        File.cancelWriting();
        CannotSave(FileName, QStringLiteral("cannot keep its mode and group: %1").arg(Errno(Error)));
    }
    const QByteArray Bytes = Text.toUtf8();
    if (File.write(Bytes) != Bytes.size()) {
        const QString Why = File.errorString();
        File.cancelWriting();
        CannotSave(FileName, Why);
    }
    if (!File.commit())
        CannotSave(FileName, File.errorString());
}
