#pragma once

#include "reader/CPortDevice.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace Telnet { class TDecoder; }

// The socket platform layer of the serial port: a reader behind a serial-to-network server,
// tcp://HOST:PORT (raw bytes) or rfc2217://HOST:PORT (Telnet with the com-port option).
// Only reader/CPort*.cpp uses it.
namespace NetDevice {

using Clock = std::chrono::steady_clock;

// The bound on reaching a reader: name resolution, the connection and the server's answers to
// the first line settings all fit in it; later line settings get as long again.
constexpr int TimeoutMs = 5000;
inline std::string Within() { return " within " + std::to_string(TimeoutMs / 1000) + " s"; }

bool IsUrl(const std::string& PortName);

// A relay thread between the connection and a local socket pair: the port reads, writes and
// waits on the local end as on a tty, sees plain data, and sees a hang-up (end of input) once
// the connection drops or the server breaks the Telnet rules, after the bytes that came before.
class TLink
{
public:
    // Takes over a connected socket (closed on failure, which throws std::system_error).
    // Where starts every message: "Cannot reach reader at HOST:PORT: ".
    static std::unique_ptr<TLink> Adopt(int Socket, bool Telnet, const std::string& Where);
    ~TLink(); // stops the relay, closes every descriptor
    TLink(const TLink&) = delete;
    TLink& operator=(const TLink&) = delete;

    int Handle() const { return FLocal; }

    // Raw: nothing to set. Telnet: sends the line requests (and, the first time, a purge) and
    // waits until Deadline for the answers and for binary mode both ways; modem-line requests
    // are not waited for, as servers without those lines never answer them. Returns why the
    // line is not as asked, naming the host; empty when it is.
    std::string ApplyLine(const ComDevice::TLine& Line, Clock::time_point Deadline);

private:
    TLink(int Socket, bool Telnet, const std::string& Where);
    void Run();
    void Relay(std::string& ToLocal);
    void Flush(std::string& ToLocal);
    bool Stopping();
    bool Settled(const uint32_t* Before, bool Purge) const;

    int FSocket = -1;
    int FLocal = -1;    // the port's end
    int FRelayEnd = -1; // the relay's end
    int FWake = -1;     // eventfd: stop, or control bytes to send
    bool FTelnet = false;
    bool FPurged = false;
    std::string FWhere;

    std::mutex FLock; // guards everything below
    std::condition_variable FAnswered;
    std::string FControl;
    std::unique_ptr<Telnet::TDecoder> FDecoder;
    bool FStop = false;
    bool FDropped = false;
    std::thread FThread;
};

} // namespace NetDevice
