#include "ui/ConnectFailure.h"

#include "common/SystemError.h"
#include "discovery/AgentDoors.h"
#include "reader/CPort.h"

#include <cerrno>

namespace {

QString Cause(const std::exception& Error, const QString& Port)
{
    if (Port.isEmpty())
        return QStringLiteral("No card reader was chosen.");
    const auto* PortError = dynamic_cast<const EComPort*>(&Error);
    if (!PortError || PortError->WinCode() <= 0)
        return QString::fromUtf8(Error.what());
    switch (PortError->WinCode()) {
    case EBUSY:
        if (const QString Held = HeldByAgentText(Port); !Held.isEmpty())
            return Held + u'.';
        return QStringLiteral("The port %1 is in use by another program.").arg(Port);
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return QStringLiteral("The port %1 was not found; the card reader may have been unplugged.").arg(Port);
    case EACCES:
    case EPERM:
        return QStringLiteral("You are not allowed to use the port %1. Ask your administrator to let you use "
                              "serial devices (on Debian: join the \"dialout\" group, then log in again).")
            .arg(Port);
    default:
        return QStringLiteral("%1 (%2).").arg(QString::fromUtf8(Error.what()),
                                              QString::fromLocal8Bit(ErrnoText(PortError->WinCode())));
    }
}

} // namespace

QString ConnectFailureText(const std::exception& Error, const QString& Port)
{
    return QStringLiteral("Failed to connect.\r\n\r\n") + Cause(Error, Port);
}
