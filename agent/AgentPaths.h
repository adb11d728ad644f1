#pragma once

#include <QString>

// Where the agent keeps its log and offers its sockets: the folders systemd made for the service
// when it runs as one ($STATE_DIRECTORY, $RUNTIME_DIRECTORY), the system's for root, and the
// user's XDG folders for anyone else.
QString AgentStateDirectory();
QString AgentRuntimeDirectory();
