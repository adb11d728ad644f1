#pragma once

#include "cards/RfidTags.h"
#include "common/Events.h"
#include "reader/DoorMode.h"
#include "reader/Packet.h"
#include "reader/Protocol.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QIODevice;
class QTimer;
class TComPort;

// The reader component: owns the serial port, the frame codec and the card list, speaks the
// reader's command protocol and reports everything through events. Every event's sender is the
// component itself.
class TDorvik : public QObject
{
    Q_OBJECT

public:
    static constexpr int ReadBufferSize = 25600;
    static constexpr int TagLimit = protocol::CardLimit;
    static constexpr int DefaultStallTimeoutMs = 5000;

    explicit TDorvik(QObject* Owner = nullptr);
    ~TDorvik() override;

    QString Port() const;
    void SetPort(const QString& Value);
    TRfidTags& Tags() { return FTags; }
    const TRfidTags& Tags() const { return FTags; }
    uint32_t Master() const { return FMaster; }
    void SetMaster(uint32_t Value);
    bool Busy() const { return FBusy; }
    void SetBusy(bool Value) { FBusy = Value; }
    TDoorMode DoorMode() const { return FDoorMode; }
    void SetDoorMode(TDoorMode Value) { FDoorMode = Value; }
    int32_t DoorDelay() const { return FDoorDelay; }
    void SetDoorDelay(int32_t Value) { FDoorDelay = Value; }

    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
    TPacketEvent OnSend;
    TPacketEvent OnReceive;
    TNotifyEvent OnTransferBegin;
    TNotifyEvent OnTransferEnd;
    TTagEvent OnCardSwipe;
    TNotifyEvent OnBeginUpdate;
    TNotifyEvent OnUpdateProgress;
    TNotifyEvent OnEndUpdate;
    // The reader's door settings have arrived: DoorMode and DoorDelay hold them.
    TNotifyEvent OnDoorConfig;

    void Connect();
    void Disconnect();
    bool Connected() const;

    void ReadDatabase();
    void WriteDatabase();
    void ReadDoorConfig();
    void WriteDoorConfig(TDoorMode Mode, uint8_t Delay);

    void SaveToStream(QIODevice& Stream);
    void SaveToFile(const QString& FileName);
    void LoadFromStream(QIODevice& Stream);
    void LoadFromFile(const QString& FileName);

    // A transfer that has not ended, whoever started it: a read between ReadDatabase (or the
    // reader's own frame 3) and its frame 5, or a write between WriteDatabase (or the reader's
    // own frame 6) and its frame 9.
    bool TransferActive() const { return ReadActive() || WriteActive(); }
    bool ReadActive() const { return FReadRequested || FReadRunning; }
    bool WriteActive() const { return FWriteRequested || FBusy; }

    // Gives up the running transfer: a read puts the card list and master index back as they
    // were before it, a write clears Busy, and the bytes of an unfinished frame are dropped.
    // Nothing is sent. Frames of the given-up read that still arrive are ignored until its
    // frame 5 or until the reader has been quiet for the stall time-out.
    void CancelTransfer();

    // A card that the running read set aside and has not brought back yet: the card is known to
    // this computer, with its name, though it is not in Tags now.
    bool SetAsideHolds(const TRfidTag& Card) const;

    // A transfer that receives no frame for this long is given up (CancelTransfer) and reported
    // through OnTransferStalled. 0 turns the watch off.
    void SetStallTimeout(int Milliseconds);
    int StallTimeout() const { return FStallTimeoutMs; }
    TNotifyEvent OnTransferStalled;

    // Why the last transfer was given up by the component itself.
    enum class TGiveUp : uint8_t { Silent, TooLong, TooManyCards };
    TGiveUp GiveUpReason() const { return FGiveUpReason; }

    // The read-owner rule, for every caller: a change of the list ends a running read first, once;
    // the list is back as it was before the read and nothing of the read comes back over the
    // change. Loads and SetMaster call it themselves. Returns whether a read was ended.
    bool EndRead();

    // Whether the last read this program asked for began with the reader's frame 3. One without
    // it lists what arrived, but its master index is unknown.
    bool ReadWhole() const { return FReadWhole; }

    // An error met while handling the reader's frames. Empty: it goes to the application's report.
    std::function<void(QObject* Sender, const std::exception& Error)> OnError;

    // Another program drives the reader through this component's line (a relay): frames are still
    // cut and reported (OnReceive, OnCardSwipe, OnDoorConfig), but nothing is answered, no list
    // changes and no frame is an error. Ends any transfer of this component's own.
    void SetRelaying(bool Value);
    bool Relaying() const { return FRelaying; }
    // The reader's bytes as they arrive, before they are cut into frames, for a relay.
    std::function<void(QObject* Sender, const uint8_t* Bytes, int Count)> OnBytes;

    TComPort& ComPort() { return *FComPort; }

private:
    void SendPacket(std::unique_ptr<TPacket> Packet);
    void WritePacket(const TPacket& Packet);
    void ReportSent(TPacket& Packet);
    void ComPortRxChar(int Count);
    void ReceiveFrames(int Count);
    void ProcessPacket(TPacket& Packet);
    void TransferBegin(uint8_t MasterIndex);
    void AddCard(const TPacket& Packet);
    void TransferEnd();
    void BeginUpdate();
    void SendNextTag();
    void WatchTransfer();
    void FollowTransfer();
    void TransferStalled();
    void GiveUp(TGiveUp Reason);
    void StartRead(uint32_t MasterIndex);
    void WatchOverrun();

    TDoorMode FDoorMode = dmLockUnlock;
    int32_t FDoorDelay = 5;
    TRfidTags FTags;
    uint32_t FMaster = 0;
    bool FBusy = false;
    int32_t FSendIndex = 0;
    // A write sends the cards as they were when it began: the user may change the list meanwhile.
    std::vector<std::array<uint8_t, 5>> FSendCards;
    std::unique_ptr<uint8_t[]> FReadBuffer;
    TPacketParser FParser;
    TComPort* FComPort = nullptr; // owned as a child

    // A read this program asked for replaces the list; the cards listed before are set aside
    // for their names and come back if the read is given up.
    bool FReadRequested = false;
    bool FReadRunning = false; // between a frame 3 and its frame 5
    bool FSkipRead = false;    // the rest of a given-up read
    bool FWriteRequested = false;
    std::optional<TRfidTags> FSetAside;
    uint32_t FMasterBeforeRead = 0;
    bool FReadWhole = true;
    bool FRelaying = false;
    int FCardsThisRead = 0;
    TGiveUp FGiveUpReason = TGiveUp::Silent;
    QTimer* FStallTimer = nullptr;   // owned as a child
    QTimer* FOverrunTimer = nullptr; // owned as a child: a read busy for too long
    int FStallTimeoutMs = DefaultStallTimeoutMs;
};
