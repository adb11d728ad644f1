#include "agent/Door.h"

#include "agent/AgentLog.h"
#include "agent/DoorSocket.h"
#include "agent/SiteFileWatch.h"
#include "cards/CardDatabaseFile.h"
#include "cards/NameText.h"
#include "reader/CPort.h"
#include "reader/Verify.h"

namespace {

constexpr int FirstRetryMs = 1000;
constexpr int LastRetryMs = 30000;
constexpr int DoorSettingsWaitMs = 5000;

} // namespace

TDoor::TDoor(const TDoorConfig& Config, const QString& RuntimeDirectory, QObject* Owner)
    : QObject(Owner), FConfig(Config), FRuntimeDirectory(RuntimeDirectory)
{
    FRetry.setSingleShot(true);
    connect(&FRetry, &QTimer::timeout, this, [this] { TryConnect(); });
    FDoorSettingsWait.setSingleShot(true);
    connect(&FDoorSettingsWait, &QTimer::timeout, this, [this] {
        if (FStep == TStep::SettingDoor) {
            WriteEnded(false, QStringLiteral("the reader did not answer with its door settings"));
            Idle();
        } else if (FStep == TStep::DoorSettings) {
            Say(4, QStringLiteral("no door settings from the reader; reading its cards"));
            ReadCards();
        }
    });
    FReader.SetPort(Config.Port);
    FReader.OnDisconnect = [this](QObject*) { Lost(); };
    FReader.OnCardSwipe = [this](QObject*, TRfidTag& Card) { Swiped(Card); };
    FReader.OnDoorConfig = [this](QObject*) {
        if (OnDoorConfig)
            OnDoorConfig(*this);
        if (FStep == TStep::SettingDoor)
            return DoorSettingsArrived();
        if (FStep == TStep::DoorSettings) {
            FDoorSettingsWait.stop();
            ReadCards();
        }
    };
    FReader.OnTransferEnd = [this](QObject*) {
        // Handled once the component's own handler has returned: the next step starts a transfer.
        QMetaObject::invokeMethod(this, [this] {
            if (FStep == TStep::ReadingCards)
                CardsRead();
            else if (FStep == TStep::Verifying)
                Verify();
        }, Qt::QueuedConnection);
    };
    FReader.OnEndUpdate = [this](QObject*) {
        QMetaObject::invokeMethod(this, [this] {
            if (FStep != TStep::Writing)
                return;
            FStep = TStep::Verifying;
            FReader.ReadDatabase();
        }, Qt::QueuedConnection);
    };
    FReader.OnTransferStalled = [this](QObject*) { GaveUp(); };
    FReader.OnError = [this](QObject*, const std::exception& E) { Say(4, QString::fromUtf8(E.what())); };
    FReader.OnBytes = [this](QObject*, const uint8_t* Bytes, int Count) {
        if (FSocket)
            FSocket->Send(Bytes, Count);
    };

    if (!Config.SiteFile.isEmpty()) {
        LoadSiteNames();
        FWatch = std::make_unique<TSiteFileWatch>(Config.SiteFile, [this] { SiteFileChanged(); });
    }
    if (RuntimeDirectory.isEmpty())
        return;
    FSocket = std::make_unique<TDoorSocket>(SocketPath());
    FSocket->OnClientArrived = [this] { ClientArrived(); };
    FSocket->OnClientLeft = [this] { ClientLeft(); };
    FSocket->OnClientBytes = [this](const QByteArray& Bytes) {
        try {
            if (FReader.Connected())
                FReader.ComPort().WriteBytes(Bytes.constData(), int(Bytes.size()));
        } catch (const std::exception& E) {
            Say(4, QString::fromUtf8(E.what()));
        }
    };
}

TDoor::~TDoor()
{
    FReader.OnDisconnect = nullptr;
    FReader.OnBytes = nullptr;
    FSocket.reset();
}

QString TDoor::SocketPath() const { return FRuntimeDirectory + u'/' + FConfig.Id + QStringLiteral(".sock"); }

void TDoor::Say(int Priority, const QString& Text) const
{
    if (OnSay)
        return OnSay(Priority, QStringLiteral("%1: %2").arg(FConfig.Id, Text));
    AgentLog(TPriority(Priority), QStringLiteral("%1: %2").arg(FConfig.Id, Text));
}

// ---- holding the reader

void TDoor::Start() { TryConnect(); }

void TDoor::DevicesChanged()
{
    if (FStep == TStep::Offline && FRetry.isActive() && !FConfig.Port.contains(QStringLiteral("://"))) {
        FRetry.stop();
        TryConnect();
    }
}

void TDoor::TryConnect()
{
    if (FStep != TStep::Offline)
        return;
    try {
        FReader.Connect();
    } catch (const std::exception& E) {
        const QString Why = QString::fromUtf8(E.what());
        if (Why != FLastFailure)
            Say(4, QStringLiteral("cannot open %1: %2").arg(FConfig.Port, Why));
        FLastFailure = Why;
        return RetryLater();
    }
    Connected();
}

void TDoor::RetryLater()
{
    FBackoffMs = FBackoffMs == 0 ? FirstRetryMs : std::min(2 * FBackoffMs, LastRetryMs);
    FRetry.start(FBackoffMs);
}

void TDoor::Connected()
{
    FLastFailure.clear();
    FBackoffMs = 0;
    Say(6, QStringLiteral("connected to %1").arg(FConfig.Port));
    if (OnStatus)
        OnStatus(*this);
    // What the reader holds decides what "known" means in the log.
    FStep = TStep::DoorSettings;
    FReader.ReadDoorConfig();
    FDoorSettingsWait.start(DoorSettingsWaitMs);
}

void TDoor::Lost()
{
    const TStep Was = FStep;
    FStep = Was == TStep::Stopped ? TStep::Stopped : TStep::Offline;
    FDoorSettingsWait.stop();
    // The program that drove the door loses its line with the reader's; the next connect is ours.
    FReader.SetRelaying(false);
    if (FSocket)
        FSocket->DropClient();
    if ((Was == TStep::Writing || Was == TStep::Verifying) && !FWriteDone)
        Say(3, QStringLiteral("the reader went away while the site file was written: it is written again on return"));
    FPushWanted = FPushWanted || ((Was == TStep::Writing || Was == TStep::Verifying) && !FWriteDone);
    if (Was == TStep::Writing || Was == TStep::Verifying || Was == TStep::SettingDoor)
        WriteEnded(false, QStringLiteral("the reader went away before the write was verified"));
    if (Was == TStep::Stopped)
        return;
    Say(4, QStringLiteral("lost the reader on %1; taking it again").arg(FConfig.Port));
    if (OnStatus)
        OnStatus(*this);
    if (FStopped) {
        FStep = TStep::Stopped;
        return std::exchange(FStopped, nullptr)();
    }
    RetryLater();
}

void TDoor::ReadCards()
{
    FStep = TStep::ReadingCards;
    FReader.ReadDatabase();
}

void TDoor::CardsRead()
{
    NameCards();
    FPushWanted = FPushWanted || (FConfig.PushSiteFile && FSiteLoaded && ReaderDiffersFromSite());
    Idle();
}

// The reader keeps no names: the site file's are the door's.
void TDoor::NameCards()
{
    for (int I = 0; I < FReader.Tags().Count(); ++I) {
        const int Named = FSite.IndexOf(FReader.Tags().Items(I));
        FReader.Tags().Items(I).Name = Named >= 0 ? FSite.Items(Named).Name : QByteArray();
    }
    Say(6, QStringLiteral("the reader holds %1 cards").arg(FReader.Tags().Count()));
    if (OnCards)
        OnCards(*this);
}

void TDoor::GaveUp()
{
    const TStep Was = FStep;
    Say(4, QStringLiteral("the reader stopped answering"));
    if (Was == TStep::Writing || Was == TStep::Verifying) {
        Say(3, QStringLiteral("writing %1 failed: the reader stopped answering").arg(FWriting));
        WriteEnded(false, QStringLiteral("the reader stopped answering"));
        FPushWanted = false;
    }
    if (Was == TStep::ReadingCards || Was == TStep::Writing || Was == TStep::Verifying)
        Idle();
}

// Between steps: a program waiting for the door gets it, a wanted write starts, or a stop ends.
void TDoor::Idle()
{
    FStep = TStep::Idle;
    if (FStopped) {
        FStep = TStep::Stopped;
        FReader.Disconnect();
        return std::exchange(FStopped, nullptr)();
    }
    if (FSocket && FSocket->HasClient()) {
        FStep = TStep::Relaying;
        FReader.SetRelaying(true);
        FSocket->Accept();
        Say(6, QStringLiteral("a program drives the door through %1").arg(SocketPath()));
        return;
    }
    if (FPushWanted)
        PushSiteFile();
}

void TDoor::Stop(std::function<void()> Done)
{
    FRetry.stop();
    FDoorSettingsWait.stop();
    if (FStep == TStep::Writing || FStep == TStep::Verifying || FStep == TStep::SettingDoor) {
        FStopped = std::move(Done); // the write ends first
        return;
    }
    FSocket.reset();
    FStep = TStep::Stopped;
    FReader.Disconnect();
    Done();
}

// ---- swipes

void TDoor::Swiped(const TRfidTag& Card)
{
    const bool Known = FReader.Tags().IndexOf(Card) >= 0;
    const int Named = FSite.IndexOf(Card);
    const QString Name = Named >= 0 ? NameToText(FSite.Items(Named).Name) : QString();
    if (OnSwipe)
        OnSwipe(*this, Card, Known, Name);
}

// ---- the site file

void TDoor::LoadSiteNames()
{
    try {
        TLoadedCardDatabase Loaded = LoadCardDatabaseFile(FConfig.SiteFile);
        FSite.TakeRecordsFrom(Loaded.Tags);
        FSiteMaster = Loaded.Master;
        FSiteLoaded = true;
    } catch (const std::exception& E) {
        Say(3, QStringLiteral("cannot load the site file %1, the reader is left as it is: %2")
                   .arg(FConfig.SiteFile, QString::fromUtf8(E.what())));
        FSiteLoaded = false;
    }
}

void TDoor::SiteFileChanged()
{
    LoadSiteNames();
    if (!FSiteLoaded)
        return;
    Say(6, QStringLiteral("the site file %1 changed").arg(FConfig.SiteFile));
    if (!FConfig.PushSiteFile)
        return;
    FPushWanted = true;
    if (FStep == TStep::Idle)
        PushSiteFile();
}

bool TDoor::ReaderDiffersFromSite() const
{
    return ValuesOf(FReader.Tags()) != ValuesOf(FSite) || (FReader.Master() & 0xFF) != (FSiteMaster & 0xFF);
}

void TDoor::PushSiteFile()
{
    FPushWanted = false;
    PushCards(FSite, FSiteMaster, FConfig.SiteFile, nullptr);
}

void TDoor::PushCards(const TRfidTags& Cards, uint32_t Master, const QString& What, TDone Done)
{
    try {
        CheckFits(Cards);
    } catch (const std::exception& E) {
        Say(3, QStringLiteral("%1 is not written: %2").arg(What, QString::fromUtf8(E.what())));
        if (Done)
            Done(false, QString::fromUtf8(E.what()));
        return;
    }
    FReader.Tags().Clear();
    for (int I = 0; I < Cards.Count(); ++I)
        FReader.Tags().Add() = Cards.Items(I);
    FReader.SetMaster(Master);
    FWritten = ValuesOf(Cards);
    FWrittenMaster = Master;
    FWriting = What;
    FWriteDone = std::move(Done);
    Say(6, QStringLiteral("writing %1 (%2 cards) to the reader").arg(What).arg(Cards.Count()));
    FStep = TStep::Writing;
    FReader.WriteDatabase();
}

void TDoor::Verify()
{
    try {
        ::Verify(FWritten, uint8_t(FWrittenMaster & 0xFF), FReader);
        const QString Done = QStringLiteral("wrote %1 to the reader and verified %2 cards").arg(FWriting).arg(FWritten.size());
        Say(5, Done);
        WriteEnded(true, Done);
    } catch (const std::exception& E) {
        // Written again when the file changes or the reader comes back, not in a loop now.
        Say(3, QStringLiteral("writing %1 failed: %2").arg(FWriting, QString::fromUtf8(E.what())));
        WriteEnded(false, QString::fromUtf8(E.what()));
    }
    NameCards();
    Idle();
}

void TDoor::WriteEnded(bool Ok, const QString& Message)
{
    if (FWriteDone)
        std::exchange(FWriteDone, nullptr)(Ok, Message);
}

// ---- commands

QString TDoor::CommandRefusal() const
{
    if (!FReader.Connected())
        return QStringLiteral("the reader of door %1 is offline").arg(FConfig.Id);
    if (FStep == TStep::Relaying || (FSocket && FSocket->HasClient()))
        return QStringLiteral("a program drives door %1 through its socket").arg(FConfig.Id);
    if (FStep != TStep::Idle)
        return QStringLiteral("door %1 is busy with its reader; try again").arg(FConfig.Id);
    return {};
}

void TDoor::WriteCards(const TRfidTags& Cards, uint32_t Master, TDone Done)
{
    if (const QString Why = CommandRefusal(); !Why.isEmpty())
        return Done(false, Why);
    if (FConfig.PushSiteFile && !FConfig.SiteFile.isEmpty())
        return Done(false, QStringLiteral("door %1 takes its cards from %2: change that file instead").arg(FConfig.Id, FConfig.SiteFile));
    if (FConfig.SiteFile.isEmpty()) {
        FSite.Clear();
        for (int I = 0; I < Cards.Count(); ++I)
            FSite.Add() = Cards.Items(I);
    }
    PushCards(Cards, Master, QStringLiteral("a card list"), std::move(Done));
}

void TDoor::WriteDoorSettings(TDoorMode Mode, uint8_t Delay, TDone Done)
{
    if (const QString Why = CommandRefusal(); !Why.isEmpty())
        return Done(false, Why);
    FWantedMode = Mode;
    FWantedDelay = Delay;
    FWriteDone = std::move(Done);
    FStep = TStep::SettingDoor;
    // The reader does not acknowledge the settings: reading them back is the only proof.
    FReader.WriteDoorConfig(Mode, Delay);
    FReader.ReadDoorConfig();
    FDoorSettingsWait.start(DoorSettingsWaitMs);
}

void TDoor::DoorSettingsArrived()
{
    FDoorSettingsWait.stop();
    const bool Took = FReader.DoorMode() == FWantedMode && FReader.DoorDelay() == FWantedDelay;
    Say(Took ? 5 : 3, Took ? QStringLiteral("door settings written") : QStringLiteral("the reader did not take the door settings"));
    WriteEnded(Took, Took ? QStringLiteral("door settings written and read back") : QStringLiteral("the reader did not take the door settings"));
    Idle();
}

// ---- a program through the socket

void TDoor::ClientArrived()
{
    if (!FReader.Connected()) {
        FSocket->Refuse(QStringLiteral("the reader of door %1 is not connected; dorvik-agent is trying to take it again").arg(FConfig.Name));
        return;
    }
    if (FStep == TStep::Idle)
        Idle(); // else it gets the door when the running step ends
}

void TDoor::ClientLeft()
{
    if (FStep != TStep::Relaying)
        return;
    FReader.SetRelaying(false);
    Say(6, QStringLiteral("the program let go of the door"));
    // It may have changed the reader: read it again.
    FStep = TStep::DoorSettings;
    FReader.ReadDoorConfig();
    FDoorSettingsWait.start(DoorSettingsWaitMs);
}
