#include "reader/CPort.h"

#include "reader/CPortDevice.h"
#include "reader/CPortSocket.h"
#include "reader/CPortThread.h"

#include <QSocketNotifier>
#include <QThread>

#include <utility>

namespace {

int32_t BaudOf(TBaudRate Rate, int32_t Custom)
{
    static constexpr int32_t Speeds[] = {0, 110, 300, 600, 1200, 2400, 4800, 9600, 14400,
                                         19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return Rate == brCustom ? Custom : Speeds[Rate];
}

} // namespace

// ---- EComPort

const char* EComPort::KindMessage(TComExceptions Kind)
{
    switch (Kind) {
    case CE_OpenFailed: return "Unable to open com port";
    case CE_WriteFailed: return "WriteFile function failed";
    case CE_ReadFailed: return "ReadFile function failed";
    case CE_PurgeFailed: return "PurgeComm function failed";
    case CE_SetStateFailed: return "SetCommState function failed";
    case CE_TimeoutsFailed: return "SetCommTimeouts failed";
    case CE_SetupComFailed: return "SetupComm function failed";
    case CE_ClearComFailed: return "ClearCommError function failed";
    case CE_ModemStatFailed: return "GetCommModemStatus function failed";
    case CE_ConnChangeProp: return "Cannot set property while connected";
    case CEPortNotOpen: return "Port Not Open";
    }
    return "Unknown serial port error";
}

EComPort::EComPort(TComExceptions Kind, const std::string& Message)
    : Exception(Message), FCode(Kind), FWinCode(-1)
{
}

EComPort::EComPort(TComExceptions Kind, int WinCode)
    : Exception(WinCode > 0 ? Format("%s (Error: %d)", KindMessage(Kind), WinCode) : KindMessage(Kind)),
      FCode(Kind), FWinCode(WinCode)
{
}

// ---- settings groups

template <typename T> void TComParity::Set(T& Field, T Value)
{
    if (Field == Value)
        return;
    Field = Value;
    FPort.ApplyLineSettings();
}
void TComParity::SetBits(TParityBits Value) { Set(FBits, Value); }
void TComParity::SetCheck(bool Value) { Set(FCheck, Value); }
void TComParity::SetReplace(bool Value) { Set(FReplace, Value); }
void TComParity::SetReplaceChar(uint8_t Value) { Set(FReplaceChar, Value); }

template <typename T> void TComFlowControl::Set(T& Field, T Value)
{
    if (Field == Value)
        return;
    Field = Value;
    FPort.ApplyLineSettings();
}
void TComFlowControl::SetOutCTSFlow(bool Value) { Set(FOutCTSFlow, Value); }
void TComFlowControl::SetOutDSRFlow(bool Value) { Set(FOutDSRFlow, Value); }
void TComFlowControl::SetControlDTR(TDTRFlowControl Value) { Set(FControlDTR, Value); }
void TComFlowControl::SetControlRTS(TRTSFlowControl Value) { Set(FControlRTS, Value); }
void TComFlowControl::SetXonXoffOut(bool Value) { Set(FXonXoffOut, Value); }
void TComFlowControl::SetXonXoffIn(bool Value) { Set(FXonXoffIn, Value); }
void TComFlowControl::SetDSRSensitivity(bool Value) { Set(FDSRSensitivity, Value); }
void TComFlowControl::SetTxContinueOnXoff(bool Value) { Set(FTxContinueOnXoff, Value); }
void TComFlowControl::SetXonChar(uint8_t Value) { Set(FXonChar, Value); }
void TComFlowControl::SetXoffChar(uint8_t Value) { Set(FXoffChar, Value); }

void TComTimeouts::Set(int32_t& Field, int32_t Value)
{
    if (Field == Value)
        return;
    Field = Value;
    FPort.ApplyTimeoutSettings();
}
void TComTimeouts::SetReadInterval(int32_t Value) { Set(FReadInterval, Value); }
void TComTimeouts::SetReadTotalMultiplier(int32_t Value) { Set(FReadTotalMultiplier, Value); }
void TComTimeouts::SetReadTotalConstant(int32_t Value) { Set(FReadTotalConstant, Value); }
void TComTimeouts::SetWriteTotalMultiplier(int32_t Value) { Set(FWriteTotalMultiplier, Value); }
void TComTimeouts::SetWriteTotalConstant(int32_t Value) { Set(FWriteTotalConstant, Value); }

void TComBuffer::Set(int32_t& Field, int32_t Value)
{
    if (Value > 0 && Value % 2 != 0)
        --Value;
    if (Field == Value)
        return;
    Field = Value;
    FPort.ApplyBufferSettings();
}
void TComBuffer::SetInputSize(int32_t Value) { Set(FInputSize, Value); }
void TComBuffer::SetOutputSize(int32_t Value) { Set(FOutputSize, Value); }

// ---- the port

TCustomComPort::TCustomComPort(QObject* Owner) : QObject(Owner) {}

TCustomComPort::~TCustomComPort()
{
    // Handlers may belong to an owner that is being destroyed: none runs from here on.
    OnAfterClose = nullptr;
    OnRxChar = nullptr;
    AbandonOpening();
    StopEventThread();
    CloseDevice();
}

QString TCustomComPort::DevicePath(const QString& PortName)
{
    if (PortName.startsWith('/') || NetDevice::IsUrl(PortName.toStdString()))
        return PortName;
    return QStringLiteral("/dev/") + PortName;
}

void TCustomComPort::SetPort(const QString& Value)
{
    if (Value == FPort)
        return;
    AbandonOpening();
    FPort = Value;
    if (FConnected) {
        ClosePort();
        OpenPort();
    }
}

template <typename T> void TCustomComPort::SetLineField(T& Field, T Value)
{
    if (Field == Value)
        return;
    Field = Value;
    ApplyLineSettings();
}
void TCustomComPort::SetBaudRate(TBaudRate Value) { SetLineField(FBaudRate, Value); }
void TCustomComPort::SetCustomBaudRate(int32_t Value) { SetLineField(FCustomBaudRate, Value); }
void TCustomComPort::SetDataBits(TDataBits Value) { SetLineField(FDataBits, Value); }
void TCustomComPort::SetStopBits(TStopBits Value) { SetLineField(FStopBits, Value); }
void TCustomComPort::SetDiscardNull(bool Value) { SetLineField(FDiscardNull, Value); }
void TCustomComPort::SetEventChar(uint8_t Value) { SetLineField(FEventChar, Value); }

void TCustomComPort::SetSyncMethod(TSyncMethod Value)
{
    if (Value == FSyncMethod)
        return;
    if (FConnected)
        throw EComPort(CE_ConnChangeProp);
    FSyncMethod = Value;
}

void TCustomComPort::ApplyBufferSettings()
{
    // The driver's queues have fixed sizes on this system; the sizes are kept for what they
    // imply (the XON/XOFF limits) and nothing reaches the device.
}

void TCustomComPort::ApplyTimeoutSettings()
{
    // Reads never wait on this system and writes are bounded in WriteBytes; nothing to hand over.
}

ComDevice::TLine TCustomComPort::LineSettings() const
{
    ComDevice::TLine Line;
    Line.Baud = BaudOf(FBaudRate, FCustomBaudRate);
    Line.DataBits = 5 + FDataBits;
    Line.Parity = FParity.Bits();
    Line.ParityCheck = FParity.Check();
    Line.TwoStopBits = FStopBits != sbOneStopBit; // no one-and-a-half here: two is the nearest
    Line.HardwareFlow = FFlowControl.OutCTSFlow() || FFlowControl.ControlRTS() == rtsHandshake;
    Line.XonXoffOut = FFlowControl.XonXoffOut();
    Line.XonXoffIn = FFlowControl.XonXoffIn();
    Line.XonChar = FFlowControl.XonChar();
    Line.XoffChar = FFlowControl.XoffChar();
    Line.Dtr = FFlowControl.ControlDTR();
    Line.Rts = FFlowControl.ControlRTS();
    return Line;
}

void TCustomComPort::ApplyLineSettings()
{
    if (!FConnected || FHandle < 0)
        return;
    const ComDevice::TLine Line = LineSettings();
    if (FLink) {
        const auto Deadline = NetDevice::Clock::now() + std::chrono::milliseconds(NetDevice::TimeoutMs);
        if (const std::string Why = FLink->ApplyLine(Line, Deadline); !Why.empty())
            throw EComPort(CE_SetStateFailed, Why);
    } else if (const int Error = ComDevice::ApplyLine(FHandle, Line)) {
        throw EComPort(CE_SetStateFailed, Error);
    }
}

void TCustomComPort::OpenPort()
{
    if (FConnected)
        return;
    int Handle = -1;
    const std::string Path = DevicePath(FPort).toStdString();
    const bool Network = NetDevice::IsUrl(Path);
    const ComDevice::TLine Line = LineSettings();
    if (Network) {
        FLink = ConnectLink(Path, Line);
        Handle = FLink->Handle();
    } else if (const int Error = ComDevice::Open(Path.c_str(), Handle)) {
        throw EComPort(CE_OpenFailed, Error);
    }
    StartOn(Handle, Network, Line);
}

// The handle is open (a network reader's FLink holds it): the port is connected from here on.
void TCustomComPort::StartOn(int Handle, bool Network, const ComDevice::TLine& Line)
{
    FHandle = Handle;
    FConnected = true;
    ++FGeneration;
    try {
        ApplyBufferSettings();
        if (!Network || LineSettings() != Line) // a link's line was set while it connected
            ApplyLineSettings();
        ApplyTimeoutSettings();
        if (!FEvents.Empty()) {
            FNotices = std::make_unique<TComNotices>(*this);
            FThread = std::make_unique<TComThread>(FHandle, *FNotices);
        }
    } catch (...) {
        StopEventThread();
        CloseDevice();
        throw;
    }
    Fire(OnAfterOpen, this);
    ReadModemStatus();
}

void TCustomComPort::ReadModemStatus()
{
    int Lines = 0;
    if (FConnected && FHandle >= 0) {
        if (const int Error = ComDevice::ModemStatus(FHandle, Lines))
            throw EComPort(CE_ModemStatFailed, Error);
    }
}

void TCustomComPort::ClosePort()
{
    AbandonOpening();
    if (!FConnected)
        return;
    StopEventThread();
    CloseDevice();
    Fire(OnAfterClose, this);
}

void TCustomComPort::StopEventThread()
{
    if (FThread) {
        FThread->Stop();
        QThread::yieldCurrentThread();
        FThread.reset(); // joins; the thread discards both queues on its way out
    }
    TComNotices::Release(FNotices);
}

void TCustomComPort::CloseDevice()
{
    // Off before its handle closes; deleted later, as its own signal may be running.
    if (FWriteRoom) {
        FWriteRoom->setEnabled(false);
        std::exchange(FWriteRoom, nullptr)->deleteLater();
    }
    if (FLink)
        FLink.reset();
    else if (FHandle >= 0)
        ComDevice::Close(FHandle);
    FHandle = -1;
    if (FConnected)
        ++FGeneration;
    FConnected = false;
}

int TCustomComPort::WriteBytes(const void* Buffer, int Count)
{
    if (FHandle < 0)
        throw EComPort(CEPortNotOpen);
    const int64_t Timeout = int64_t(FTimeouts.WriteTotalConstant()) + int64_t(FTimeouts.WriteTotalMultiplier()) * Count;
    int Written = 0;
    if (const int Error = ComDevice::Write(FHandle, Buffer, Count, Timeout, Written))
        throw EComPort(CE_WriteFailed, Error);
    return Written;
}

int TCustomComPort::WriteSome(const void* Buffer, int Count)
{
    if (FHandle < 0)
        throw EComPort(CEPortNotOpen);
    int Written = 0;
    if (const int Error = ComDevice::Write(FHandle, Buffer, Count, 0, Written))
        throw EComPort(CE_WriteFailed, Error);
    if (Written < Count)
        WatchWriteRoom();
    return Written;
}

void TCustomComPort::WatchWriteRoom()
{
    if (!FWriteRoom) {
        FWriteRoom = new QSocketNotifier(FHandle, QSocketNotifier::Write, this);
        connect(FWriteRoom, &QSocketNotifier::activated, this, [this] {
            FWriteRoom->setEnabled(false); // once per short write
            try {
                Fire(OnWriteRoom, this);
            } catch (const std::exception& E) {
                ReportException(E);
            }
        });
    }
    FWriteRoom->setEnabled(true);
}

int TCustomComPort::ReadBytes(void* Buffer, int Count)
{
    if (FHandle < 0)
        throw EComPort(CEPortNotOpen);
    int Got = 0;
    if (const int Error = ComDevice::Read(FHandle, Buffer, Count, Got)) {
        if (!ComDevice::LineGone(Error))
            throw EComPort(CE_ReadFailed, Error);
        HandleHangUp(); // the hang-up, met before its notice: one "lost" message, not an error
        return 0;
    }
    if (FNotices && Got > 0)
        FNotices->BytesWereRead(Got);
    return Got;
}

int TCustomComPort::WaitingCount()
{
    if (FHandle < 0)
        throw EComPort(CEPortNotOpen);
    int Count = 0;
    if (const int Error = ComDevice::Waiting(FHandle, Count))
        throw EComPort(CE_ClearComFailed, Error);
    return Count;
}

std::chrono::nanoseconds TCustomComPort::EventThreadCpuTime() const
{
    return FThread ? FThread->CpuTime() : std::chrono::nanoseconds{};
}

void TCustomComPort::HandleNotice(TComEvents Events)
{
    if (!FConnected)
        return;
    // Line errors first, then the received bytes.
    if (Events.Contains(evError))
        ComDevice::LineErrorCount(FHandle);
    if (Events.Contains(evRxChar) && FConnected)
        ReceiveStep();
}

void TCustomComPort::ReceiveStep()
{
    int Count = 0;
    if (const int Error = ComDevice::Waiting(FHandle, Count)) {
        if (!ComDevice::LineGone(Error))
            throw EComPort(CE_ClearComFailed, Error);
        return HandleHangUp(); // the hang-up, met before its notice
    }
    if (Count > 0)
        Fire(OnRxChar, this, Count);
}

void TCustomComPort::HandleHangUp()
{
    // The device is gone: close as ClosePort does, so the owner learns it and can connect again.
    if (FConnected)
        ClosePort();
}
