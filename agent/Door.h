#pragma once

#include "agent/AgentConfig.h"
#include "cards/RfidTags.h"
#include "reader/Dorvik.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TDoorSocket;

// One door the agent holds: its reader kept connected (taken again after a hang-up, an unplug
// or a network drop, with backoff), its card list and door settings read after every connect,
// its swipes reported with the name from the door's site file, the site file written to the
// reader whenever it changes, and the door offered to one program at a time through a socket.
//
// The door does one step at a time. Each step is begun by one function, bounded by one timer
// and left for the step its rule names (the table in Door.cpp); a lost line leads from every
// step to Waiting, and a stop to Stopped, after a running write has ended. Nothing of the door
// ever waits on the event loop.
class TDoor : public QObject
{
    Q_OBJECT

public:
    enum class TStep : uint8_t { Waiting, Opening, AskingDoor, ReadingCards, Idle, Writing, Verifying, SettingDoor, Relaying, Stopped };

    // No socket is offered when RuntimeDirectory is empty.
    TDoor(const TDoorConfig& Config, const QString& RuntimeDirectory, QObject* Owner = nullptr);
    ~TDoor() override;

    const TDoorConfig& Config() const { return FConfig; }
    QString SocketPath() const;
    bool Online() const { return FReader.Connected(); }
    TDorvik& Reader() { return FReader; }
    TStep Step() const { return FStep; }
    // The reader has told its door settings since it was connected (Reader() holds them).
    bool DoorSettingsKnown() const { return FDoorSettingsKnown; }
    bool Stopping() const { return FStopWanted || FStep == TStep::Stopped; }

    void Start();
    // The system's serial devices changed: a reader waited for is tried at once.
    void DevicesChanged();
    // Ends the door: a running write is given its time to end (its step's bound at most), then
    // the socket and the line close and Done runs, once. Done may run inside the door's own
    // handlers: it must not destroy the door.
    void Stop(std::function<void()> Done);

    // What a caller is told when a write it asked for has ended: Ok, or why not.
    using TDone = std::function<void(bool Ok, const QString& Message)>;
    // Why the door cannot take a command now (offline, a program drives it, a step runs, it
    // stops); empty when it can.
    QString CommandRefusal() const;
    // Sets the reader's door and reads the settings back; Done says whether they took.
    void WriteDoorSettings(TDoorMode Mode, uint8_t Delay, TDone Done);
    // Writes Cards and Master to the reader and verifies them by reading the list back. A door
    // without a site file names its swipes from Cards from then on.
    void WriteCards(const TRfidTags& Cards, uint32_t Master, TDone Done);

    // The door's site list: its cards name the swipes (whether the reader holds them or not).
    void SetSite(const TRfidTags& Named);
    // The list the reader should hold now (What names it in messages): written, and verified,
    // once the reader is known to hold another: at once when the door is idle, else when the
    // running step ends, a program lets go of the door or the reader is connected again. Only a
    // door whose configuration pushes its site file writes it.
    void SetWanted(const TRfidTags& Cards, uint32_t Master, const QString& What);

    // A card swiped on the reader: Known when the list the reader is known to hold has it.
    std::function<void(TDoor& Door, const TRfidTag& Card, bool Known, const QString& Name)> OnSwipe;
    // What the door has to say, with a journal priority (3 error ... 7 debug); the agent's log
    // when empty.
    std::function<void(int Priority, const QString& Text)> OnSay;

signals:
    void StatusChanged();    // came online or went offline
    void DoorSettingsRead(); // the reader reported its door settings
    void CardsChanged();     // the reader's card list was read or written

private:
    struct TRule;
    static const TRule Rules[];
    static const TRule& RuleOf(TStep Step);
    static bool WriteStep(TStep Step);

    // Moving between steps.
    void Enter(TStep Next);
    void Advance();
    void Overdue();
    void Broke(const QString& Why);
    void EndRelay();
    void TryAgainLater();
    template <typename Handler> void Guarded(Handler&& Run);

    // How each step begins.
    void Wait();
    void Open();
    void AskDoor();
    void ReadCards();
    void Idle();
    void Write();
    void ReadBack();
    void SetDoor();
    void Relay();
    void Close();

    // How steps end.
    void Opened(const QString& Error);
    void OpenOverdue();
    void DoorSettingsOverdue();
    void CardsRead();
    void ReadFailed();
    void Verify();
    void WriteFailed();
    void DoorSettingsArrived();
    void DoorSettingsFailed();
    void Lost();
    void GaveUp();
    void AfterTransfer(std::function<void()> Then);

    // The list it should hold, the cards and the socket.
    bool ReaderDiffersFromWanted() const;
    void NameHeld();
    void PushSiteFile();
    void PushCards(const TRfidTags& Cards, uint32_t Master, const QString& What, TDone Done);
    void WriteEnded(bool Ok, const QString& Message);
    void NameCards();
    void Swiped(const TRfidTag& Card);
    void ClientArrived();
    void ClientBytes(const QByteArray& Bytes);
    void FlushToReader();
    void DropClient(const QString& Why);
    void Say(int Priority, const QString& Text) const;

    TDoorConfig FConfig;
    QString FRuntimeDirectory;
    TStep FStep = TStep::Waiting;
    bool FStarted = false;
    bool FStopWanted = false;
    std::function<void()> FStopped;
    QTimer FBound;          // the running step's
    QTimer FAgain;          // a failed read or push is tried again when it fires
    int FBackoffMs = 0;     // of the line
    int FAgainMs = 0;       // of a failed read or push
    uint64_t FAttempt = 0;  // the open whose end is awaited
    QString FLastFailure;
    bool FDoorSettingsKnown = false;
    bool FReadWanted = false;
    bool FPushWanted = false;
    std::vector<uint32_t> FHeld; // the cards the reader is known to hold: the last list read back
    TRfidTags FSite;        // the site list's cards with their names
    TRfidTags FWanted;      // the list the reader should hold, once given
    uint32_t FWantedMaster = 0;
    QString FWantedWhat;
    bool FHasWanted = false;
    std::vector<uint32_t> FWritten;
    uint32_t FWrittenMaster = 0;
    QString FWriting;       // what is being written, for messages: "the site file X"
    bool FWritingSite = false;
    TDone FWriteDone;
    TDoorMode FWantedMode = dmLockUnlock;
    uint8_t FWantedDelay = 0;
    QByteArray FToReader;   // a program's bytes the line has not taken yet
    std::unique_ptr<TDoorSocket> FSocket;
    TDorvik FReader; // last: its events reach everything above
};
