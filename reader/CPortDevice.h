#pragma once

#include "reader/ComSettings.h"

#include <cstdint>

// The termios platform layer of the serial port. Functions return 0 or a positive errno; none
// throws. Only reader/CPort*.cpp uses it.
namespace ComDevice {

struct TLine
{
    int32_t Baud = 9600;
    int DataBits = 8;        // 5 to 8
    TParityBits Parity = prNone;
    bool ParityCheck = false;
    bool TwoStopBits = false;
    bool HardwareFlow = false; // CTS/RTS handshake
    bool XonXoffOut = false;
    bool XonXoffIn = false;
    uint8_t XonChar = 17;
    uint8_t XoffChar = 19;
    TDTRFlowControl Dtr = dtrDisable; // handshake is left to the driver
    TRTSFlowControl Rts = rtsDisable; // handshake is left to the driver, toggle holds it on
    bool operator==(const TLine&) const = default;
};

// Opens a tty for exclusive non-blocking use; on success Handle is the descriptor.
int Open(const char* Path, int& Handle);
void Close(int Handle);

// Raw line with the given framing, speed, flow control and modem lines.
int ApplyLine(int Handle, const TLine& Line);

// Writes Count bytes, waiting for room at most TimeoutMs in all; Written tells how many went.
int Write(int Handle, const void* Buffer, int Count, int64_t TimeoutMs, int& Written);

// Reads what is there, up to Count bytes, without waiting.
int Read(int Handle, void* Buffer, int Count, int& Got);

int Waiting(int Handle, int& Count);

// Whether an error of Read or Waiting means the device has gone (its hang-up may still be on
// its way to the event thread).
bool LineGone(int Error);

// Discards both queues: unread input and unsent output.
int Flush(int Handle);

// Modem status lines; a device without them (a pseudo-terminal) is not an error.
int ModemStatus(int Handle, int& Lines);

// Line error counters (framing, parity, overrun, break) added up; 0 where the driver has none.
int64_t LineErrorCount(int Handle);

} // namespace ComDevice
