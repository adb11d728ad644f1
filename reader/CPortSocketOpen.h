#pragma once

#include "reader/CPortSocket.h"

#include <memory>
#include <string>
#include <thread>

namespace NetDevice {

struct TOpeningState;

// Reaching a network reader on a worker thread, so that the caller's thread can go on with its
// events: name resolution, the connection and (Telnet) the first line settings, all within
// TimeoutMs of the start. The worker owns only its own state; what it makes is handed over by
// Take, and what is never taken the worker closes itself.
class TOpening
{
public:
    // Starts at once. An address that is not a reader's fails at once, without a worker.
    TOpening(const std::string& Url, const ComDevice::TLine& Line);
    ~TOpening(); // gives up a worker still at work; it is joined once it has finished
    TOpening(const TOpening&) = delete;
    TOpening& operator=(const TOpening&) = delete;

    // "Cannot reach reader at HOST:PORT: ", the start of every message about this reader.
    const std::string& Where() const;
    bool Finished() const;
    int DoneHandle() const; // readable once finished, for an event loop to watch
    int MsLeft() const;     // of the bound
    void Wait() const;      // until finished or the bound has passed

    // The connection, or null and why not, naming the host and, once the bound has passed,
    // what was waited for. Called before the worker has finished, gives it up.
    std::unique_ptr<TLink> Take(std::string& Message);

private:
    std::shared_ptr<TOpeningState> FState;
    std::thread FWorker;
};

} // namespace NetDevice
