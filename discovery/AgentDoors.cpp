#include "discovery/AgentDoors.h"

#include "common/Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>

namespace {

// systemd may hand several folders, separated by ':'; the first is the service's own.
QString FromEnvironment(const char* Name)
{
    return qEnvironmentVariable(Name).section(u':', 0, 0);
}

QString UserFolder(const char* Variable, const QString& Fallback)
{
    const QString Base = qEnvironmentVariable(Variable);
    return (Base.startsWith(u'/') ? Base : Fallback) + QStringLiteral("/dorvik");
}

} // namespace

QString AgentStateDirectory()
{
    if (const QString Given = FromEnvironment("STATE_DIRECTORY"); !Given.isEmpty())
        return Given;
    if (::geteuid() == 0)
        return QStringLiteral("/var/lib/dorvik");
    return UserFolder("XDG_STATE_HOME", QDir::homePath() + QStringLiteral("/.local/state"));
}

QString AgentRuntimeDirectory()
{
    if (const QString Given = FromEnvironment("RUNTIME_DIRECTORY"); !Given.isEmpty())
        return Given;
    if (::geteuid() == 0)
        return QStringLiteral("/run/dorvik");
    return UserFolder("XDG_RUNTIME_DIR", QDir::tempPath() + QStringLiteral("/dorvik-%1").arg(::geteuid()));
}

namespace {

constexpr char DoorsFileName[] = "/doors";

QString Clean(QString Text) { return Text.replace(u'\t', u' ').replace(u'\n', u' '); }

QString DevicePathOf(const QString& Port)
{
    const QString Path = Port.startsWith(u'/') ? Port : QStringLiteral("/dev/") + Port;
    const QString Real = QFileInfo(Path).canonicalFilePath();
    return Real.isEmpty() ? Path : Real;
}

} // namespace

void MakeAgentRuntimeDirectory(const QString& Folder)
{
    // In a folder anyone may write (/tmp) another user could have made ours first.
    const QByteArray Path = QFile::encodeName(QDir::cleanPath(Folder));
    struct stat Parent{};
    const bool Shared = ::stat(QFile::encodeName(QFileInfo(Folder).absolutePath()).constData(), &Parent) == 0 && (Parent.st_mode & S_IWOTH);
    QDir().mkpath(QFileInfo(Folder).absolutePath());
    if (::mkdir(Path.constData(), Shared ? 0700 : 0755) != 0 && errno != EEXIST)
        throw Exception(QStringLiteral("Cannot make the folder %1: %2").arg(Folder, QString::fromLocal8Bit(strerror(errno))).toStdString());
    struct stat Made{};
    if (::lstat(Path.constData(), &Made) != 0 || !S_ISDIR(Made.st_mode) || Made.st_uid != ::geteuid() || (Made.st_mode & 022)
        || (Shared && (Made.st_mode & 077)))
        throw Exception(QStringLiteral("The runtime folder %1 is not this user's own%2: remove it, or give another with "
                                       "RUNTIME_DIRECTORY or XDG_RUNTIME_DIR")
                            .arg(Folder, Shared ? QStringLiteral(" with mode 0700") : QStringLiteral(" or others may write it"))
                            .toStdString());
}

void WriteAgentDoors(const QString& RuntimeDirectory, const std::vector<TAgentDoor>& Doors)
{
    QSaveFile File(RuntimeDirectory + DoorsFileName);
    QByteArray Text;
    for (const TAgentDoor& D : Doors)
        Text += QStringList{Clean(D.Id), Clean(D.Name), Clean(D.Port), Clean(D.Socket), Clean(D.Log)}.join(u'\t').toUtf8() + '\n';
    // No secret in it, and whoever may use a door's socket lists the doors: readable by all,
    // whatever the service's umask.
    const auto Mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    if (!File.open(QIODevice::WriteOnly) || !File.setPermissions(Mode) || File.write(Text) != Text.size() || !File.commit())
        throw Exception(QStringLiteral("Cannot write %1: %2").arg(File.fileName(), File.errorString()).toStdString());
}

void RemoveAgentDoors(const QString& RuntimeDirectory) { QFile::remove(RuntimeDirectory + DoorsFileName); }

std::vector<TAgentDoor> AgentDoors()
{
    std::vector<TAgentDoor> Doors;
    QStringList Folders{QStringLiteral("/run/dorvik"), AgentRuntimeDirectory()};
    Folders.removeDuplicates();
    for (const QString& Folder : Folders) {
        QFile File(Folder + DoorsFileName);
        if (!File.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& Line : File.readAll().split('\n')) {
            const QStringList F = QString::fromUtf8(Line).split(u'\t');
            // A file of an agent from before the log's field has four.
            if (F.size() < 4 || F.size() > 5 || !QFileInfo::exists(F[3]))
                continue;
            if (std::none_of(Doors.begin(), Doors.end(), [&](const TAgentDoor& D) { return D.Socket == F[3]; }))
                Doors.push_back({F[0], F[1], F[2], F[3], F.value(4)});
        }
    }
    return Doors;
}

QString HeldByAgentText(const QString& Port)
{
    const QString Wanted = DevicePathOf(Port);
    for (const TAgentDoor& D : AgentDoors())
        if (!D.Port.contains(QStringLiteral("://")) && DevicePathOf(D.Port) == Wanted)
            return QStringLiteral("%1 is held by dorvik-agent (door %2): use %3").arg(Port, D.Name, D.SocketPort());
    return {};
}
