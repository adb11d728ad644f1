#pragma once

#include "agent/AgentConfig.h"
#include "cards/RfidTags.h"
#include "reader/Dorvik.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class TDoorSocket;
class TSiteFileWatch;

// One door the agent holds: its reader kept connected (taken again after a hang-up, an unplug
// or a network drop, with backoff), its card list and door settings read after every connect,
// its swipes reported with the name from the door's site file, the site file written to the
// reader whenever it changes, and the door offered to one program at a time through a socket.
class TDoor : public QObject
{
public:
    // No socket is offered when RuntimeDirectory is empty.
    TDoor(const TDoorConfig& Config, const QString& RuntimeDirectory, QObject* Owner = nullptr);
    ~TDoor() override;

    const TDoorConfig& Config() const { return FConfig; }
    QString SocketPath() const;
    bool Online() const { return FReader.Connected(); }
    TDorvik& Reader() { return FReader; }

    void Start();
    // The system's serial devices changed: a reader waited for is tried at once.
    void DevicesChanged();
    // Ends the door: a write of the site file still running is given its time to end (or to be
    // given up), then the line closes and Done runs, once.
    void Stop(std::function<void()> Done);

    // What a caller is told when a write it asked for has ended: Ok, or why not.
    using TDone = std::function<void(bool Ok, const QString& Message)>;
    // Why the door cannot take a command now (offline, a program drives it, a transfer runs);
    // empty when it can.
    QString CommandRefusal() const;
    // Sets the reader's door and reads the settings back; Done says whether they took.
    void WriteDoorSettings(TDoorMode Mode, uint8_t Delay, TDone Done);
    // Writes Cards and Master to the reader and verifies them by reading the list back. A door
    // without a site file names its swipes from Cards from then on.
    void WriteCards(const TRfidTags& Cards, uint32_t Master, TDone Done);

    // A card swiped on the reader: Known when the reader's list holds it.
    std::function<void(TDoor& Door, const TRfidTag& Card, bool Known, const QString& Name)> OnSwipe;
    std::function<void(TDoor& Door)> OnStatus;     // came online or went offline
    std::function<void(TDoor& Door)> OnDoorConfig; // the reader reported its door settings
    std::function<void(TDoor& Door)> OnCards;      // the reader's card list was read or written
    // What the door has to say, with a journal priority (3 error ... 7 debug); the agent's log
    // when empty.
    std::function<void(int Priority, const QString& Text)> OnSay;

private:
    enum class TStep { Offline, DoorSettings, ReadingCards, Idle, Writing, Verifying, SettingDoor, Relaying, Stopped };

    void TryConnect();
    void Connected();
    void Lost();
    void RetryLater();
    void ReadCards();
    void CardsRead();
    void NameCards();
    void LoadSiteNames();
    void SiteFileChanged();
    bool ReaderDiffersFromSite() const;
    void PushSiteFile();
    void PushCards(const TRfidTags& Cards, uint32_t Master, const QString& What, TDone Done);
    void Verify();
    void WriteEnded(bool Ok, const QString& Message);
    void DoorSettingsArrived();
    void Idle();
    void ClientArrived();
    void ClientLeft();
    void Swiped(const TRfidTag& Card);
    void GaveUp();
    void Say(int Priority, const QString& Text) const;

    TDoorConfig FConfig;
    QString FRuntimeDirectory;
    TStep FStep = TStep::Offline;
    int FBackoffMs = 0;
    QString FLastFailure;
    QTimer FRetry;
    QTimer FDoorSettingsWait;
    TRfidTags FSite; // the site file's cards with their names, once loaded
    uint32_t FSiteMaster = 0;
    bool FSiteLoaded = false;
    bool FPushWanted = false;
    std::vector<uint32_t> FWritten;
    uint32_t FWrittenMaster = 0;
    QString FWriting; // what is being written, for messages: "the site file X"
    TDone FWriteDone;
    TDoorMode FWantedMode = dmLockUnlock;
    uint8_t FWantedDelay = 0;
    std::function<void()> FStopped;
    std::unique_ptr<TSiteFileWatch> FWatch;
    std::unique_ptr<TDoorSocket> FSocket;
    TDorvik FReader; // last: its events reach everything above
};
