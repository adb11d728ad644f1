#include "agent/AgentPaths.h"

#include <QDir>
#include <QStandardPaths>

#include <unistd.h>

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
