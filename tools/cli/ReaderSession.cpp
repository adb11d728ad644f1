#include "tools/cli/ReaderSession.h"

#include "tools/cli/Console.h"
#include "tools/cli/GiveUpText.h"

#include "common/SystemError.h"
#include "discovery/AgentDoors.h"
#include "discovery/ExtraPorts.h"
#include "reader/CPort.h"

#include <cerrno>

TReaderSession::TReaderSession(const QString& Port, int TimeoutMs)
    : FPort(Port), FTimeoutMs(TimeoutMs), FProgress(StderrIsTerminal())
{
    // Errors raised inside the event loop (an unknown frame, a failed read of the line) end the
    // command instead of being shown and forgotten.
    FPreviousReporter = SetExceptionReporter(
        [this](const std::exception& E) { Fail((FPort + QStringLiteral(": ") + QString::fromUtf8(E.what())).toStdString()); });
    FWatchdog.setSingleShot(true);
    QObject::connect(&FWatchdog, &QTimer::timeout, &FWatchdog, [this] { Silent(); });
    // A read that keeps the line busy never falls silent: it is bounded as a whole too.
    FReadDeadline.setSingleShot(true);
    QObject::connect(&FReadDeadline, &QTimer::timeout, &FReadDeadline, [this] { GiveUp(TDorvik::TGiveUp::TooLong); });
    // One watch for every wait: the component's own would cancel a transfer behind our back.
    FReader.SetStallTimeout(0);
    FReader.OnReceive = [this](QObject*, TPacket&) { FrameReceived(); };
    FReader.OnTransferBegin = [this](QObject*) { FCountingCards = FAwaited == Awaited::TransferEnd; };
    FReader.OnTransferEnd = [this](QObject*) {
        if (FCountingCards)
            FProgress.Step(FReader.Tags().Count());
        FCountingCards = false;
        Arrived(Awaited::TransferEnd);
    };
    FReader.OnEndUpdate = [this](QObject*) { Arrived(Awaited::EndUpdate); };
    FReader.OnTransferStalled = [this](QObject*) { GiveUp(FReader.GiveUpReason()); };
    FReader.OnUpdateProgress = [this](QObject*) { FProgress.Step(++FCardsSeen); };
    FReader.OnDoorConfig = [this](QObject*) { Arrived(Awaited::DoorConfig); };
    FReader.OnDisconnect = [this](QObject*) { Fail(QStringLiteral("The reader on %1 hung up").arg(FPort).toStdString()); };
    try {
        Connect();
    } catch (...) {
        FReader.OnDisconnect = nullptr;
        SetExceptionReporter(FPreviousReporter);
        throw;
    }
}

TReaderSession::~TReaderSession()
{
    FReader.OnDisconnect = nullptr;
    try {
        FReader.Disconnect();
    } catch (const std::exception&) {
        // Closing what is already gone: nothing left to tell.
    }
    SetExceptionReporter(FPreviousReporter);
}

void TReaderSession::Connect()
{
    FReader.SetPort(FPort);
    try {
        FReader.Connect();
    } catch (const EComPort& E) {
        // The system's reason first: it is what a person can act on.
        const QString What = QString::fromUtf8(E.what());
        if (const QString Held = E.WinCode() == EBUSY ? HeldByAgentText(FPort) : QString(); !Held.isEmpty())
            throw Exception(Held.toStdString());
        // A network reader's message names the host already.
        const QString Text = IsNetworkPort(FPort) ? What
            : E.WinCode() > 0
            ? QStringLiteral("Cannot open port %1: %2 (%3)").arg(FPort, QString::fromLocal8Bit(ErrnoText(E.WinCode())), What)
            : QStringLiteral("Cannot open port %1: %2").arg(FPort, What);
        throw Exception(Text.toStdString());
    }
}

void TReaderSession::ReadDatabase()
{
    FCountingCards = false;
    FProgress.Start(QStringLiteral("Reading"), -1);
    Expect(Awaited::TransferEnd);
    FReader.ReadDatabase();
    FReadDeadline.start(FTimeoutMs + protocol::ReadOverrunMs);
    Wait();
    FReadDeadline.stop();
    FProgress.Finish();
}

void TReaderSession::WriteDatabase()
{
    FCardsSeen = 0;
    FProgress.Start(QStringLiteral("Writing"), FReader.Tags().Count());
    Expect(Awaited::EndUpdate);
    FReader.WriteDatabase();
    Wait();
    FProgress.Finish();
}

void TReaderSession::ReadDoorConfig()
{
    Expect(Awaited::DoorConfig);
    FReader.ReadDoorConfig();
    Wait();
}

void TReaderSession::WriteDoorConfig(TDoorMode Mode, uint8_t Delay)
{
    FReader.WriteDoorConfig(Mode, Delay);
    if (FFailure)
        throw Exception(*FFailure);
}

void TReaderSession::Expect(Awaited What)
{
    FAwaited = What;
    FArrived = false;
}

void TReaderSession::Wait()
{
    if (!FArrived && !FFailure) {
        FWatchdog.start(FTimeoutMs);
        FLoop.exec();
        FWatchdog.stop();
    }
    FAwaited = Awaited::Nothing;
    if (FFailure) {
        FReadDeadline.stop();
        FProgress.Finish();
        throw Exception(*FFailure);
    }
}

void TReaderSession::Arrived(Awaited What)
{
    if (What != FAwaited)
        return;
    FArrived = true;
    FLoop.quit();
}

void TReaderSession::Fail(const std::string& Message)
{
    if (!FFailure)
        FFailure = Message;
    FLoop.quit();
}

void TReaderSession::Silent()
{
    if (FReader.TransferActive())
        FReader.CancelTransfer();
    Fail(QStringLiteral("No answer from the reader on %1 within %2 s").arg(FPort).arg(FTimeoutMs / 1000.0).toStdString());
}

void TReaderSession::GiveUp(TDorvik::TGiveUp Reason)
{
    if (FReader.TransferActive())
        FReader.CancelTransfer();
    Fail(QStringLiteral("%1: %2").arg(FPort, GiveUpText(Reason, FTimeoutMs)).toStdString());
}

void TReaderSession::FrameReceived()
{
    // Any frame shows the reader is alive; silence counts from the last one.
    if (FWatchdog.isActive())
        FWatchdog.start(FTimeoutMs);
    // The frame at hand is taken right after this event: the count trails it by one until the
    // transfer ends.
    if (FCountingCards)
        FProgress.Step(FReader.Tags().Count());
}
