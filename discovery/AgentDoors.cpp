#include "discovery/AgentDoors.h"

#include "common/Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

#include <unistd.h>

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

void WriteAgentDoors(const QString& RuntimeDirectory, const std::vector<TAgentDoor>& Doors)
{
    QSaveFile File(RuntimeDirectory + DoorsFileName);
    QByteArray Text;
    for (const TAgentDoor& D : Doors)
        Text += QStringList{Clean(D.Id), Clean(D.Name), Clean(D.Port), Clean(D.Socket), Clean(D.Log)}.join(u'\t').toUtf8() + '\n';
    if (!File.open(QIODevice::WriteOnly) || File.write(Text) != Text.size() || !File.commit())
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
