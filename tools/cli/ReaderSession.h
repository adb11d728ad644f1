#pragma once

#include "tools/cli/Progress.h"

#include "common/Errors.h"
#include "reader/Dorvik.h"

#include <QEventLoop>
#include <QString>
#include <QTimer>

#include <optional>
#include <string>

// A connected reader component and the event loop that the tool runs until the reader has
// answered. Every operation waits for its answer and raises Exception when the reader stays
// silent for the time-out, hangs up, or sends something the component rejects.
class TReaderSession
{
public:
    // Connects at once; raises Exception with the system's reason when the port cannot be opened.
    TReaderSession(const QString& Port, int TimeoutMs);
    ~TReaderSession();
    TReaderSession(const TReaderSession&) = delete;
    TReaderSession& operator=(const TReaderSession&) = delete;

    TDorvik& Reader() { return FReader; }

    // The reader's database into Tags and Master. Cards listed before keep their names.
    void ReadDatabase();
    // Tags and Master into the reader.
    void WriteDatabase();
    // The reader's door settings into DoorMode and DoorDelay.
    void ReadDoorConfig();
    // Sends the settings; the reader does not answer this one.
    void WriteDoorConfig(TDoorMode Mode, uint8_t Delay);

private:
    enum class Awaited { Nothing, TransferEnd, EndUpdate, DoorConfig };

    void Connect();
    void Expect(Awaited What);
    void Wait();
    void Arrived(Awaited What);
    void Fail(const std::string& Message);
    void Silent();
    void GiveUp(TDorvik::TGiveUp Reason);
    void FrameReceived();

    QString FPort;
    int FTimeoutMs;
    TProgress FProgress;
    int FCardsSeen = 0;          // of a write, acknowledged by the reader
    bool FCountingCards = false; // a read of ours is listing the reader's cards
    Awaited FAwaited = Awaited::Nothing;
    bool FArrived = false;
    std::optional<std::string> FFailure;
    QEventLoop FLoop;
    QTimer FWatchdog;
    QTimer FReadDeadline;
    TExceptionReporter FPreviousReporter;
    TDorvik FReader; // last: its events reach everything above
};
