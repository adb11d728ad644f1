#include "tools/cli/Arguments.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Console.h"

#include "discovery/AgentDoors.h"
#include "discovery/ExtraPorts.h"
#include "discovery/ReaderIds.h"
#include "discovery/USBPnP.h"

namespace {

const char PortsHelp[] =
    "Usage: dorvik-cli ports\n"
    "\n"
    "Lists the serial ports of the attached readers, one per line, as the connection\n"
    "dialog offers them: USB devices with the reader's hardware id, then the ports\n"
    "named in DORVIK_EXTRA_PORTS (separated by ':'), then the network readers of the\n"
    "settings list readers/network. A network reader (tcp://HOST:PORT or\n"
    "rfc2217://HOST:PORT) is followed by a tab and the word \"network\". The doors\n"
    "that dorvik-agent offers follow as unix:SOCKET, a tab and the door's name.\n";

} // namespace

int RunPorts(const QStringList& Args)
{
    const TArguments Given(QStringLiteral("ports"), Args, {}, {}, 0);
    if (Given.Help()) {
        Print(QString::fromUtf8(PortsHelp));
        return 0;
    }
    TUSBPnP Discovery(nullptr);
    Discovery.SetHardwareId(QString::fromLatin1(ReaderHardwareId));
    Discovery.Refresh();
    for (const QString& Port : Discovery.Ports())
        Print(Port + (IsNetworkPort(Port) ? QStringLiteral("\tnetwork\n") : QStringLiteral("\n")));
    for (const TAgentDoor& Door : AgentDoors())
        Print(Door.SocketPort() + u'\t' + Door.Label() + u'\n');
    return 0;
}
