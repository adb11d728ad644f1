#pragma once

#include "common/Errors.h"
#include "common/Events.h"
#include "reader/ComSettings.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

// ---- events

// A set of line events, one bit per TComEvent ordinal.
class TComEvents
{
public:
    constexpr TComEvents() = default;
    constexpr TComEvents(std::initializer_list<TComEvent> List)
    {
        for (TComEvent E : List)
            FBits |= uint16_t(1u << E);
    }
    static constexpr TComEvents All() { return TComEvents(uint16_t(0x3FF)); }
    constexpr bool Contains(TComEvent E) const { return FBits & (1u << E); }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr void Include(TComEvent E) { FBits |= uint16_t(1u << E); }
    constexpr bool operator==(const TComEvents&) const = default;

private:
    constexpr explicit TComEvents(uint16_t Bits) : FBits(Bits) {}
    uint16_t FBits = 0;
};

// ---- errors

enum TComExceptions : uint8_t {
    CE_OpenFailed, CE_WriteFailed, CE_ReadFailed, CE_PurgeFailed, CE_SetStateFailed,
    CE_TimeoutsFailed, CE_SetupComFailed, CE_ClearComFailed, CE_ModemStatFailed,
    CE_ConnChangeProp, CEPortNotOpen
};

// Every failing port operation raises this; the message is the kind's text, followed by
// " (Error: %d)" when an OS error number goes with it.
class EComPort : public Exception
{
public:
    EComPort(TComExceptions Kind, int WinCode = -1);
    // A failure the system's layer already put into words (a network reader that cannot be reached).
    EComPort(TComExceptions Kind, const std::string& Message);
    TComExceptions Code() const { return FCode; }
    int WinCode() const { return FWinCode; } // the OS error number (errno), -1 when none
    static const char* KindMessage(TComExceptions Kind);

private:
    TComExceptions FCode;
    int FWinCode;
};

using TRxCharEvent = std::function<void(QObject* Sender, int Count)>;

class TCustomComPort;

// ---- settings groups
//
// Each belongs to one port. Writing a new value applies it to an open device at once; writing the
// value a field already has makes no call at all. Some settings are only stored on this system,
// so callers may set them as they would elsewhere: each group says which.

// Stored only: Replace, ReplaceChar (the tty driver has no replacement character).
class TComParity
{
public:
    explicit TComParity(TCustomComPort& Port) : FPort(Port) {}
    TParityBits Bits() const { return FBits; }
    bool Check() const { return FCheck; }
    bool Replace() const { return FReplace; }
    uint8_t ReplaceChar() const { return FReplaceChar; }
    void SetBits(TParityBits Value);
    void SetCheck(bool Value);
    void SetReplace(bool Value);
    void SetReplaceChar(uint8_t Value);

private:
    template <typename T> void Set(T& Field, T Value);
    TCustomComPort& FPort;
    TParityBits FBits = prNone;
    bool FCheck = false;
    bool FReplace = false;
    uint8_t FReplaceChar = 0;
};

// Stored only: OutDSRFlow, DSRSensitivity, TxContinueOnXoff (termios has no DSR flow control).
class TComFlowControl
{
public:
    explicit TComFlowControl(TCustomComPort& Port) : FPort(Port) {}
    bool OutCTSFlow() const { return FOutCTSFlow; }
    bool OutDSRFlow() const { return FOutDSRFlow; }
    TDTRFlowControl ControlDTR() const { return FControlDTR; }
    TRTSFlowControl ControlRTS() const { return FControlRTS; }
    bool XonXoffOut() const { return FXonXoffOut; }
    bool XonXoffIn() const { return FXonXoffIn; }
    bool DSRSensitivity() const { return FDSRSensitivity; }
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
    uint8_t XonChar() const { return FXonChar; }
    uint8_t XoffChar() const { return FXoffChar; }
    void SetOutCTSFlow(bool Value);
    void SetOutDSRFlow(bool Value);
    void SetControlDTR(TDTRFlowControl Value);
    void SetControlRTS(TRTSFlowControl Value);
    void SetXonXoffOut(bool Value);
    void SetXonXoffIn(bool Value);
    void SetDSRSensitivity(bool Value);
    void SetTxContinueOnXoff(bool Value);
    void SetXonChar(uint8_t Value);
    void SetXoffChar(uint8_t Value);

private:
    template <typename T> void Set(T& Field, T Value);
    TCustomComPort& FPort;
    bool FOutCTSFlow = false;
    bool FOutDSRFlow = false;
    TDTRFlowControl FControlDTR = dtrDisable;
    TRTSFlowControl FControlRTS = rtsDisable;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
    bool FDSRSensitivity = false;
    bool FTxContinueOnXoff = false;
    uint8_t FXonChar = 17;
    uint8_t FXoffChar = 19;
};

// Stored only: the three read timeouts (reads never wait here). The write timeouts bound each
// WriteBytes.
class TComTimeouts
{
public:
    explicit TComTimeouts(TCustomComPort& Port) : FPort(Port) {}
    int32_t ReadInterval() const { return FReadInterval; }
    int32_t ReadTotalMultiplier() const { return FReadTotalMultiplier; }
    int32_t ReadTotalConstant() const { return FReadTotalConstant; }
    int32_t WriteTotalMultiplier() const { return FWriteTotalMultiplier; }
    int32_t WriteTotalConstant() const { return FWriteTotalConstant; }
    void SetReadInterval(int32_t Value);
    void SetReadTotalMultiplier(int32_t Value);
    void SetReadTotalConstant(int32_t Value);
    void SetWriteTotalMultiplier(int32_t Value);
    void SetWriteTotalConstant(int32_t Value);

private:
    void Set(int32_t& Field, int32_t Value);
    TCustomComPort& FPort;
    int32_t FReadInterval = -1;
    int32_t FReadTotalMultiplier = 0;
    int32_t FReadTotalConstant = 0;
    int32_t FWriteTotalMultiplier = 100;
    int32_t FWriteTotalConstant = 1000;
};

// Stored only: both sizes (the driver's queues have fixed sizes).
class TComBuffer
{
public:
    explicit TComBuffer(TCustomComPort& Port) : FPort(Port) {}
    int32_t InputSize() const { return FInputSize; }
    int32_t OutputSize() const { return FOutputSize; }
    // An odd positive size is stored as the next lower even number.
    void SetInputSize(int32_t Value);
    void SetOutputSize(int32_t Value);

private:
    void Set(int32_t& Field, int32_t Value);
    TCustomComPort& FPort;
    int32_t FInputSize = 1024;
    int32_t FOutputSize = 1024;
};

// ---- the port

class TComThread;
class TComNotices;
class QEventLoop;
class QSocketNotifier;
namespace NetDevice { class TLink; }
namespace ComDevice { struct TLine; }

// A serial port over a termios tty, or a network reader (tcp://HOST:PORT, rfc2217://HOST:PORT)
// that looks the same from outside. Every operation runs on the GUI thread; the event thread only
// waits for line events and hands each wake-up to the GUI thread, one notice at a time.
class TCustomComPort : public QObject
{
    Q_OBJECT

public:
    explicit TCustomComPort(QObject* Owner = nullptr);
    ~TCustomComPort() override;

    // -- line (stored only: DiscardNull, EventChar)
    QString Port() const { return FPort; }
    void SetPort(const QString& Value);
    TBaudRate BaudRate() const { return FBaudRate; }
    void SetBaudRate(TBaudRate Value);
    int32_t CustomBaudRate() const { return FCustomBaudRate; }
    void SetCustomBaudRate(int32_t Value);
    TDataBits DataBits() const { return FDataBits; }
    void SetDataBits(TDataBits Value);
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits Value);
    bool DiscardNull() const { return FDiscardNull; }
    void SetDiscardNull(bool Value);
    uint8_t EventChar() const { return FEventChar; }
    void SetEventChar(uint8_t Value);
    TComParity& Parity() { return FParity; }

    // -- flow control
    TComFlowControl& FlowControl() { return FFlowControl; }

    // -- timeouts and buffers
    TComTimeouts& Timeouts() { return FTimeouts; }
    TComBuffer& Buffer() { return FBuffer; }

    // -- events (stored only: SyncMethod; every event reaches the GUI thread)
    TComEvents Events() const { return FEvents; }
    void SetEvents(TComEvents Value) { FEvents = Value; }
    TSyncMethod SyncMethod() const { return FSyncMethod; }
    void SetSyncMethod(TSyncMethod Value);
    TNotifyEvent OnAfterOpen;
    TNotifyEvent OnAfterClose;
    TRxCharEvent OnRxChar;

    // -- state and data
    void OpenPort();
    // Opens without waiting on the event loop: a network reader is reached on a worker while the
    // loop goes on, and Done runs from the loop within the network bound, with an empty text
    // once the port is open or with why it is not. A device opens at once, Done before this
    // returns. Closing or renaming the port gives the opening up, and Done does not run then.
    void OpenPortLater(std::function<void(const QString& Error)> Done);
    void ClosePort();
    bool Connected() const { return FConnected; }
    // Counts every open and close: a step that runs handlers compares it before and after, to
    // learn that the port it started on was closed (or reopened) beneath it.
    uint64_t Generation() const { return FGeneration; }

    int WriteBytes(const void* Buffer, int Count);
    // Writes what the line takes now, without waiting, and returns how many bytes went; once
    // some were left over, OnWriteRoom follows when the line has room again. For bytes that must
    // never hold up the event loop (a program's bytes relayed to the reader).
    int WriteSome(const void* Buffer, int Count);
    TNotifyEvent OnWriteRoom;
    int ReadBytes(void* Buffer, int Count);
    int WaitingCount();

    // The device path a port name stands for: "/dev/" + name, or the name itself when it is a path
    // or a network address.
    static QString DevicePath(const QString& PortName);

    // Processor time the event thread has used so far (zero without a thread).
    std::chrono::nanoseconds EventThreadCpuTime() const;
    bool HasEventThread() const { return FThread != nullptr; }

    // Called by the settings groups when a value changed.
    void ApplyBufferSettings();
    void ApplyLineSettings();
    void ApplyTimeoutSettings();

private:
    friend class TComNotices;
    template <typename T> void SetLineField(T& Field, T Value);
    ComDevice::TLine LineSettings() const;
    std::unique_ptr<NetDevice::TLink> ConnectLink(const std::string& Url, const ComDevice::TLine& Line);
    void StartOn(int Handle, bool Network, const ComDevice::TLine& Line);
    void WatchWriteRoom();
    void AbandonOpening();
    void CloseDevice();
    void StopEventThread();
    void HandleNotice(TComEvents Events);
    void HandleHangUp();
    void ReceiveStep();
    void ReadModemStatus();

    QString FPort = QStringLiteral("COM1");
    TBaudRate FBaudRate = br9600;
    int32_t FCustomBaudRate = 9600;
    TDataBits FDataBits = dbEight;
    TStopBits FStopBits = sbOneStopBit;
    bool FDiscardNull = false;
    uint8_t FEventChar = 0;
    TComEvents FEvents = TComEvents::All();
    TSyncMethod FSyncMethod = smThreadSync;
    TComParity FParity{*this};
    TComFlowControl FFlowControl{*this};
    TComTimeouts FTimeouts{*this};
    TComBuffer FBuffer{*this};

    int FHandle = -1;
    std::unique_ptr<NetDevice::TLink> FLink; // a network reader's connection; owns FHandle
    // A network reader being reached while a local event loop runs: the number of that opening
    // (0 for none) and its loop. Closing, renaming or destroying the port gives it up.
    uint64_t FOpening = 0;
    uint64_t FOpenings = 0;
    QEventLoop* FOpenLoop = nullptr;
    bool FConnected = false;
    uint64_t FGeneration = 0;
    QSocketNotifier* FWriteRoom = nullptr; // a child while the line is open, once WriteSome was short
    std::unique_ptr<TComNotices> FNotices;
    std::unique_ptr<TComThread> FThread;
};

class TComPort : public TCustomComPort
{
    Q_OBJECT

public:
    using TCustomComPort::TCustomComPort;
};
