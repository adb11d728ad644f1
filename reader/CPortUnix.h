#pragma once

#include <chrono>
#include <string>

// The local-socket platform layer of the serial port: a door that dorvik-agent offers,
// unix:PATH. The agent's first line says whether the door is ours now; after it come the
// reader's bytes, unchanged. Only reader/CPort*.cpp uses it.
namespace UnixDevice {

bool IsUnixPort(const std::string& PortName);

// Connects to the door at Path and reads the agent's first line, within Deadline. Returns the
// connected socket, or -1 with Message saying why (after "Cannot reach door at PATH: ").
int Connect(const std::string& Path, std::chrono::steady_clock::time_point Deadline, std::string& Message);

} // namespace UnixDevice
