#pragma once

#include "reader/CPortDevice.h"

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

constexpr int TimeoutMs = 5000; // for connecting, and for the server's answers to line requests

bool IsUrl(const std::string& PortName);

// A relay thread between the connection and a local socket pair: the port reads, writes and
// waits on the local end as on a tty, sees plain data, and sees a hang-up (end of input) once
// the connection drops.
class TLink
{
public:
    // Connects; on failure returns null and Message says why, naming the host.
    static std::unique_ptr<TLink> Open(const std::string& Url, std::string& Message);
    ~TLink(); // stops the relay, closes every descriptor
    TLink(const TLink&) = delete;
    TLink& operator=(const TLink&) = delete;

    int Handle() const { return FLocal; }

    // Raw: nothing to set. Telnet: sends the line requests (and, the first time, a purge) and
    // waits for the answers; modem-line requests are not waited for, as servers without those
    // lines never answer them. Returns 0 or an errno.
    int ApplyLine(const ComDevice::TLine& Line);

private:
    TLink(int Socket, bool Telnet);
    void Run();
    void Relay();

    int FSocket = -1;
    int FLocal = -1;    // the port's end
    int FRelayEnd = -1; // the relay's end
    int FWake = -1;     // eventfd: stop, or control bytes to send
    bool FTelnet = false;
    bool FPurged = false;

    std::mutex FLock; // guards everything below
    std::condition_variable FAnswered;
    std::string FControl;
    std::unique_ptr<Telnet::TDecoder> FDecoder;
    bool FStop = false;
    bool FDropped = false;
    std::thread FThread;
};

} // namespace NetDevice
