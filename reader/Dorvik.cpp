#include "reader/Dorvik.h"

#include "cards/CardDatabaseFile.h"
#include "reader/CPort.h"
#include "reader/FrameTrace.h"

#include <QTimer>

#include <algorithm>

using namespace protocol;

namespace {

TRfidTag TagFromPayload(const TPacket& Packet)
{
    TRfidTag Tag;
    for (int I = 0; I < CardLength; ++I)
        Tag.Bytes[size_t(I)] = Packet.Payload(I);
    return Tag;
}

} // namespace

TDorvik::TDorvik(QObject* Owner) : QObject(Owner), FReadBuffer(new uint8_t[ReadBufferSize])
{
    FComPort = new TComPort(this);
    FComPort->SetBaudRate(br19200);
    FComPort->Parity().SetBits(prNone);
    FComPort->SetStopBits(sbOneStopBit);
    FComPort->SetDataBits(dbEight);
    FComPort->Buffer().SetInputSize(32768);
    FComPort->FlowControl().SetControlDTR(dtrDisable);
    FComPort->FlowControl().SetControlRTS(rtsEnable);
    FComPort->FlowControl().SetOutCTSFlow(false);
    FComPort->FlowControl().SetOutDSRFlow(false);
    FComPort->FlowControl().SetXonXoffOut(false);
    FComPort->FlowControl().SetXonXoffIn(false);
    FComPort->OnAfterOpen = [this](QObject*) {
        // A new line starts with an empty codec: bytes of an old one are no frame's start.
        FParser.Clear();
        FSkipRead = false;
        Fire(OnConnect, this);
    };
    FComPort->OnAfterClose = [this](QObject*) { Fire(OnDisconnect, this); };
    FComPort->OnRxChar = [this](QObject*, int Count) { ComPortRxChar(Count); };
    FComPort->SetSyncMethod(smWindowSync);
    FTags.Limit = TagLimit;

    FStallTimer = new QTimer(this);
    FStallTimer->setSingleShot(true);
    connect(FStallTimer, &QTimer::timeout, this, [this] {
        try {
            TransferStalled();
        } catch (const std::exception& Error) {
            ReportException(Error);
        }
    });
    FOverrunTimer = new QTimer(this);
    FOverrunTimer->setSingleShot(true);
    connect(FOverrunTimer, &QTimer::timeout, this, [this] {
        try {
            if (ReadActive())
                GiveUp(TGiveUp::TooLong);
        } catch (const std::exception& Error) {
            ReportException(Error);
        }
    });
}

TDorvik::~TDorvik()
{
    // Closed first, so OnDisconnect still meets the card list.
    try {
        FComPort->ClosePort();
    } catch (const std::exception& Error) {
        ReportException(Error);
    }
}

QString TDorvik::Port() const { return FComPort->Port(); }
void TDorvik::SetPort(const QString& Value) { FComPort->SetPort(Value); }
bool TDorvik::Connected() const { return FComPort->Connected(); }
// All or nothing: when the port opened but the rest failed (the OnConnect handler included),
// the port is closed again, so that Connected and the owner's view of it agree.
void TDorvik::Connect()
{
    try {
        FComPort->OpenPort();
    } catch (...) {
        if (FComPort->Connected())
            FComPort->ClosePort();
        throw;
    }
}
void TDorvik::Disconnect() { FComPort->ClosePort(); }

void TDorvik::SetMaster(uint32_t Value)
{
    EndRead();
    FMaster = Value;
}

void TDorvik::SetRelaying(bool Value)
{
    if (Value && TransferActive())
        CancelTransfer();
    FRelaying = Value;
}

bool TDorvik::EndRead()
{
    if (!ReadActive())
        return false;
    CancelTransfer();
    return true;
}

// ---- sending

void TDorvik::SendPacket(std::unique_ptr<TPacket> Packet)
{
    WritePacket(*Packet);
    ReportSent(*Packet);
}

// A frame cut short by a write time-out would run into the next one on the reader's side: it
// counts as not sent.
void TDorvik::WritePacket(const TPacket& Packet)
{
    if (FComPort->WriteBytes(Packet.Data(), Packet.Length()) < Packet.Length())
        throw EComPort(CE_WriteFailed);
}

void TDorvik::ReportSent(TPacket& Packet)
{
    TraceFrame(TFrameDirection::Sent, Packet);
    Fire(OnSend, this, Packet);
}

void TDorvik::ReadDatabase()
{
    SendPacket(TPacket::Build(fcReadDatabase, ReadDatabaseLength));
    FReadRequested = true;
    FReadWhole = false;
    FSkipRead = false;
    WatchTransfer();
    WatchOverrun();
}

void TDorvik::WriteDatabase()
{
    auto Packet = TPacket::Build(fcBeginUpdate, BeginUpdateLength);
    Packet->SetPayload(0, uint8_t(FMaster & 0xFF));
    SendPacket(std::move(Packet));
    FWriteRequested = true;
    WatchTransfer();
}

void TDorvik::ReadDoorConfig() { SendPacket(TPacket::Build(fcReadDoorConfig, ReadDoorConfigLength)); }

void TDorvik::WriteDoorConfig(TDoorMode Mode, uint8_t Delay)
{
    auto Packet = TPacket::Build(fcDoorConfig, DoorConfigLength);
    Packet->SetPayload(0, uint8_t(Mode));
    Packet->SetPayload(1, Delay);
    SendPacket(std::move(Packet));
}

void TDorvik::SendNextTag()
{
    if (FSendIndex < int32_t(FSendCards.size())) {
        auto Packet = TPacket::Build(fcUpdateCard, UpdateCardLength);
        const auto& Bytes = FSendCards[size_t(FSendIndex)];
        for (int I = 0; I < CardLength; ++I)
            Packet->SetPayload(I, Bytes[size_t(I)]);
        WritePacket(*Packet);
        ++FSendIndex; // only once it went out: a repeated acknowledgement sends it again
        ReportSent(*Packet);
    } else {
        SendPacket(TPacket::Build(fcEndUpdate, EndUpdateLength));
    }
}

// ---- receiving

void TDorvik::ComPortRxChar(int Count)
{
    try {
        ReceiveFrames(Count);
    } catch (const std::exception& Error) {
        if (!OnError)
            throw;
        OnError(this, Error);
    }
}

void TDorvik::ReceiveFrames(int Count)
{
    // Everything waiting is taken now, a buffer at a time; each frame leaves the codec before it
    // is handled, so a handler that runs a modal loop meets a consistent codec.
    // A read never asks for more than the codec has room for, so a frame that is still being
    // collected cannot make a large chunk overflow it.
    // A handler may close (or reopen) the port beneath this loop: then it stops without touching
    // the port again.
    const uint64_t Line = FComPort->Generation();
    int Left = Count;
    while (Left > 0) {
        const int Room = std::min(ReadBufferSize, FParser.Capacity() - FParser.Count());
        const int Got = FComPort->ReadBytes(FReadBuffer.get(), std::min(Left, Room));
        if (Got <= 0)
            break;
        Left -= Got;
        if (OnBytes) {
            OnBytes(this, FReadBuffer.get(), Got);
            if (FComPort->Generation() != Line)
                return;
        }
        FParser.Append(FReadBuffer.get(), Got);
        while (std::unique_ptr<TPacket> Packet = FParser.ExtractPacket()) {
            FollowTransfer();
            TraceFrame(TFrameDirection::Received, *Packet);
            Fire(OnReceive, this, *Packet);
            if (FComPort->Generation() != Line)
                return;
            ProcessPacket(*Packet);
            if (FComPort->Generation() != Line)
                return;
            FollowTransfer();
        }
    }
}

void TDorvik::ProcessPacket(TPacket& Packet)
{
    if (FRelaying && Packet.Code() != fcCardSwipe && Packet.Code() != fcDoorConfig)
        return; // the other program's transfer: its frames are its own business
    switch (Packet.Code()) {
    case fcCardSwipe: {
        TRfidTag Swiped = TagFromPayload(Packet);
        Fire(OnCardSwipe, this, Swiped);
        break;
    }
    case fcTransferBegin:
        TransferBegin(Packet.Payload(0));
        break;
    case fcCard:
        AddCard(Packet);
        break;
    case fcTransferEnd:
        TransferEnd();
        break;
    case fcBeginUpdate:
        BeginUpdate();
        break;
    case fcUpdateProgress:
        if (FBusy) {
            Fire(OnUpdateProgress, this);
            SendNextTag();
        }
        break;
    case fcEndUpdate:
        if (FBusy) {
            FBusy = false;
            FWriteRequested = false;
            FStallTimer->stop();
            Fire(OnEndUpdate, this);
        }
        break;
    case fcDoorConfig:
        FDoorMode = TDoorMode(Packet.Payload(0));
        FDoorDelay = Packet.Payload(1);
        Fire(OnDoorConfig, this);
        break;
    default:
        throw Exception("Unknown command");
    }
}

void TDorvik::TransferBegin(uint8_t MasterIndex)
{
    if (FSkipRead)
        return;
    if (FReadRequested)
        FReadWhole = true;
    StartRead(MasterIndex);
}

void TDorvik::StartRead(uint32_t MasterIndex)
{
    // The list before the read is kept aside, so that a read given up can put it back: taken
    // whole for a read we asked for (it replaces the list), copied for the reader's own (it adds).
    if (!FSetAside) {
        FSetAside.emplace();
        FMasterBeforeRead = FMaster;
        FCardsThisRead = 0;
        WatchOverrun();
        if (FReadRequested) {
            FSetAside->TakeRecordsFrom(FTags);
        } else {
            for (int I = 0; I < FTags.Count(); ++I)
                FSetAside->Add() = FTags.Items(I);
        }
    }
    if (FReadRequested)
        FTags.Clear(); // a repeated frame 3 starts the reader's list again
    FReadRunning = true;
    FMaster = MasterIndex;
    Fire(OnTransferBegin, this);
}

void TDorvik::AddCard(const TPacket& Packet)
{
    if (FSkipRead)
        return;
    // A read we asked for whose frame 3 was lost still replaces the list: its cards must not
    // hide among the ones listed before. Its master index stays unknown (ReadWhole).
    if (FReadRequested && !FReadRunning)
        StartRead(FMaster);
    if (ReadActive() && ++FCardsThisRead > ReadCardBound)
        return GiveUp(TGiveUp::TooManyCards);
    if (!ReadActive() && FTags.Count() >= ReadCardBound)
        return; // cards outside a read: no reader holds that many
    const TRfidTag Card = TagFromPayload(Packet);
    if (FTags.IndexOf(Card) >= 0)
        return;
    TRfidTag& Added = FTags.Add();
    Added.AssignBytes(Card);
    // Names exist only on this PC: the same card keeps the name it had before the read.
    if (FSetAside) {
        const int Before = FSetAside->IndexOf(Card);
        if (Before >= 0)
            Added.Name = FSetAside->Items(Before).Name;
    }
}

void TDorvik::TransferEnd()
{
    if (FSkipRead) {
        FSkipRead = false;
        return;
    }
    FReadRequested = false;
    FReadRunning = false;
    FSetAside.reset();
    FOverrunTimer->stop();
    Fire(OnTransferEnd, this);
}

bool TDorvik::SetAsideHolds(const TRfidTag& Card) const { return FSetAside && FSetAside->IndexOf(Card) >= 0; }

void TDorvik::BeginUpdate()
{
    FBusy = true;
    FWriteRequested = false;
    FSendIndex = 0;
    FSendCards.clear();
    for (int I = 0; I < FTags.Count(); ++I)
        FSendCards.push_back(FTags.Items(I).Bytes);
    Fire(OnBeginUpdate, this);
    SendNextTag();
}

// ---- giving up a transfer

void TDorvik::CancelTransfer()
{
    FStallTimer->stop();
    FOverrunTimer->stop();
    // A frame left half-received would swallow the start of the next transfer's first frame.
    FParser.Clear();
    if (FSetAside) {
        FTags.TakeRecordsFrom(*FSetAside);
        FMaster = FMasterBeforeRead;
        FSetAside.reset();
    }
    // Only a watchdog can end the skip (once the reader has been quiet); without one a given-up
    // read's tail would swallow every later read.
    if (ReadActive() && FStallTimeoutMs > 0) {
        FSkipRead = true;
        WatchTransfer();
    }
    FReadRequested = false;
    FReadRunning = false;
    FWriteRequested = false;
    FBusy = false;
}

void TDorvik::SetStallTimeout(int Milliseconds)
{
    FStallTimeoutMs = std::max(0, Milliseconds);
    if (FStallTimeoutMs == 0) {
        FStallTimer->stop();
        FOverrunTimer->stop();
        FSkipRead = false;
    }
}

void TDorvik::WatchTransfer()
{
    if (FStallTimeoutMs > 0)
        FStallTimer->start(FStallTimeoutMs);
}

// From a read's request or its first frame, whichever comes first.
void TDorvik::WatchOverrun()
{
    if (FStallTimeoutMs > 0 && !FOverrunTimer->isActive())
        FOverrunTimer->start(FStallTimeoutMs + ReadOverrunMs);
}

// Every transfer, started here or by the reader, is watched; so is the tail of a given-up read.
void TDorvik::FollowTransfer()
{
    if (TransferActive() || FSkipRead)
        WatchTransfer();
    else
        FStallTimer->stop();
}

void TDorvik::TransferStalled()
{
    if (!TransferActive()) {
        FSkipRead = false;
        return;
    }
    GiveUp(TGiveUp::Silent);
}

void TDorvik::GiveUp(TGiveUp Reason)
{
    FGiveUpReason = Reason;
    CancelTransfer();
    Fire(OnTransferStalled, this);
}

// ---- the card database file

void TDorvik::SaveToStream(QIODevice& Stream)
{
    SaveCardDatabase(Stream, FTags, {FMaster, uint8_t(FDoorMode), FDoorDelay});
}

void TDorvik::SaveToFile(const QString& FileName)
{
    SaveCardDatabaseFile(FileName, FTags, {FMaster, uint8_t(FDoorMode), FDoorDelay});
}

void TDorvik::LoadFromStream(QIODevice& Stream)
{
    TLoadedCardDatabase Loaded = LoadCardDatabase(Stream);
    EndRead();
    FTags.TakeRecordsFrom(Loaded.Tags);
    FMaster = Loaded.Master;
}

void TDorvik::LoadFromFile(const QString& FileName)
{
    TLoadedCardDatabase Loaded = LoadCardDatabaseFile(FileName);
    EndRead();
    FTags.TakeRecordsFrom(Loaded.Tags);
    FMaster = Loaded.Master;
}
