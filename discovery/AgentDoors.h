#pragma once

#include <QString>

#include <optional>
#include <vector>

// The doors a running dorvik-agent offers. The agent lists them in a file in its runtime folder;
// the programs that list ports read it, so a door the agent holds is reached through its socket.

// Where the agent keeps its log and offers its sockets: the folders systemd made for the service
// when it runs as one ($STATE_DIRECTORY, $RUNTIME_DIRECTORY), the system's for root, and the
// user's XDG folders for anyone else.
QString AgentStateDirectory();
QString AgentRuntimeDirectory();

struct TAgentDoor
{
    QString Id;
    QString Name;
    QString Port;   // the reader's own port
    QString Socket; // the path a program connects to
    QString Log{};  // the access log the agent records this door's swipes in; empty when not said

    QString SocketPort() const { return QStringLiteral("unix:") + Socket; }
    QString Label() const { return Name + QStringLiteral(" (agent)"); }
};

// Makes the runtime folder when it is missing (0700 inside a folder anyone may write, such as
// /tmp) and raises Exception unless it is this user's own and nobody else may write it.
void MakeAgentRuntimeDirectory(const QString& Folder);

// Replaces the list in RuntimeDirectory, readable by all; raises Exception when it cannot be written.
void WriteAgentDoors(const QString& RuntimeDirectory, const std::vector<TAgentDoor>& Doors);
void RemoveAgentDoors(const QString& RuntimeDirectory);

// The doors of the system's agent and of this user's, each socket once; none when no agent runs.
std::vector<TAgentDoor> AgentDoors();

// "ttyUSB0 is held by dorvik-agent (door Front door): use unix:/run/dorvik/front-door.sock" when
// an agent holds the reader on Port (a name such as ttyUSB0, or a device path); else empty.
QString HeldByAgentText(const QString& Port);
