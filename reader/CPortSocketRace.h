#pragma once

#include "reader/CPortSocket.h"

#include <sys/socket.h>

#include <string>
#include <vector>

// Reaching a host that has several addresses: only reader/CPortSocket*.cpp uses it.
namespace NetDevice {

struct TEndpoint
{
    sockaddr_storage Address{};
    socklen_t Size = 0;
};

// The addresses of Host, families alternating from the first one's (RFC 8305), so that a family
// that cannot be reached costs one attempt's delay, not the bound. Returns why none were found
// (lower case, for the end of a message); empty on success. Blocks as long as the resolver takes.
std::string Resolve(const std::string& Host, int Port, std::vector<TEndpoint>& Endpoints);

// Connects to the first of Endpoints that accepts, tried in order as RFC 8305 describes: the next
// starts 250 ms after the one before unless that one failed sooner, and those still under way
// go on meanwhile. The first to connect wins and the others are closed. Gives up at Deadline
// (ETIMEDOUT) or once Cancel (a descriptor, -1 for none) turns readable (ECANCELED). Returns 0
// and the socket, or the errno of the last failure.
int Race(const std::vector<TEndpoint>& Endpoints, Clock::time_point Deadline, int Cancel, int& Socket);

// Why Race failed, lower case, for the end of a message.
std::string Reason(int Error);

} // namespace NetDevice
