#include "agent/Door.h"

#include "agent/AgentLog.h"
#include "agent/DoorSocket.h"
#include "cards/CardDatabaseFile.h"
#include "cards/NameText.h"
#include "reader/CPort.h"
#include "reader/Verify.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr int FirstRetryMs = 1000;
constexpr int LastRetryMs = 30000;
// A network open has its own bound of 5 s; this one only backs it up.
constexpr int OpenMs = 10000;
constexpr int AnswerMs = 5000;
// A whole list at the reader's pace; the reader's own stall watch ends a silent one sooner.
constexpr int TransferMs = 60000;

bool NetworkPort(const QString& Port) { return Port.contains(QStringLiteral("://")) || Port.startsWith(QStringLiteral("unix:")); }

} // namespace

// ---- the steps

struct TDoor::TRule
{
    TStep Step;
    void (TDoor::*Begin)();   // how it starts
    int BoundMs;              // its one bound; 0: none (Waiting's is the backoff, set as it begins)
    void (TDoor::*Overdue)(); // when the bound has passed
    TStep Next;               // where it goes once it has ended as it should
    const char* Doing;        // for messages
};

const TDoor::TRule TDoor::Rules[] = {
    // step               begins with         bound       when overdue                  then
    {TStep::Waiting,      &TDoor::Wait,       0,          &TDoor::Advance,              TStep::Opening,      "waiting for the reader"},
    {TStep::Opening,      &TDoor::Open,       OpenMs,     &TDoor::OpenOverdue,          TStep::AskingDoor,   "opening the port"},
    {TStep::AskingDoor,   &TDoor::AskDoor,    AnswerMs,   &TDoor::DoorSettingsOverdue,  TStep::ReadingCards, "asking for the door settings"},
    {TStep::ReadingCards, &TDoor::ReadCards,  TransferMs, &TDoor::ReadFailed,           TStep::Idle,         "reading the cards"},
    {TStep::Idle,         &TDoor::Idle,       0,          nullptr,                      TStep::Idle,         "starting what is wanted"},
    {TStep::Writing,      &TDoor::Write,      TransferMs, &TDoor::WriteFailed,          TStep::Verifying,    "writing the card list"},
    {TStep::Verifying,    &TDoor::ReadBack,   TransferMs, &TDoor::WriteFailed,          TStep::Idle,         "reading the written list back"},
    {TStep::SettingDoor,  &TDoor::SetDoor,    AnswerMs,   &TDoor::DoorSettingsFailed,   TStep::Idle,         "setting the door"},
    {TStep::Relaying,     &TDoor::Relay,      0,          nullptr,                      TStep::AskingDoor,   "handing the door to a program"},
    {TStep::Stopped,      &TDoor::Close,      0,          nullptr,                      TStep::Stopped,      "closing"},
};

const TDoor::TRule& TDoor::RuleOf(TStep Step)
{
    static_assert(std::size(Rules) == size_t(TStep::Stopped) + 1, "one rule per step, in the order of TStep");
    return Rules[size_t(Step)];
}

// A write (the door's settings included) ends before a stop: the reader keeps no half list.
bool TDoor::WriteStep(TStep Step) { return Step == TStep::Writing || Step == TStep::Verifying || Step == TStep::SettingDoor; }

template <typename Handler> void TDoor::Guarded(Handler&& Run)
{
    // Every handler the event loop calls comes through here: an error is said, never thrown.
    try {
        Run();
    } catch (const std::exception& E) {
        Say(3, QString::fromUtf8(E.what()));
    }
}

void TDoor::Enter(TStep Next)
{
    if (FStep == TStep::Stopped)
        return;
    if (FStopWanted && !WriteStep(Next))
        Next = TStep::Stopped;
    if (FStep == TStep::Relaying && Next != TStep::Relaying)
        EndRelay();
    FStep = Next;
    const TRule& Rule = RuleOf(Next);
    FBound.stop();
    if (Rule.BoundMs > 0)
        FBound.start(Rule.BoundMs);
    try {
        (this->*Rule.Begin)();
    } catch (const std::exception& E) {
        Broke(QStringLiteral("%1 failed: %2").arg(QLatin1String(Rule.Doing), QString::fromUtf8(E.what())));
    }
}

void TDoor::Advance() { Enter(RuleOf(FStep).Next); }

void TDoor::Overdue()
{
    if (const auto Handler = RuleOf(FStep).Overdue)
        (this->*Handler)();
}

// A step could not even begin: the line is suspect and taken again from the start.
void TDoor::Broke(const QString& Why)
{
    Say(3, Why);
    if (FStep == TStep::Stopped)
        return;
    try {
        FReader.Disconnect(); // Lost follows; an open still under way is given up
    } catch (const std::exception& E) {
        Say(3, QString::fromUtf8(E.what()));
    }
    if (FStep != TStep::Waiting && FStep != TStep::Stopped)
        Enter(TStep::Waiting);
}

void TDoor::TryAgainLater()
{
    FAgainMs = FAgainMs == 0 ? FirstRetryMs : std::min(2 * FAgainMs, LastRetryMs);
    FAgain.start(FAgainMs);
}

// ---- made and ended

TDoor::TDoor(const TDoorConfig& Config, const QString& RuntimeDirectory, QObject* Owner)
    : QObject(Owner), FConfig(Config), FRuntimeDirectory(RuntimeDirectory)
{
    FBound.setSingleShot(true);
    connect(&FBound, &QTimer::timeout, this, [this] { Guarded([this] { Overdue(); }); });
    FAgain.setSingleShot(true);
    connect(&FAgain, &QTimer::timeout, this, [this] {
        Guarded([this] {
            if (FStep == TStep::Idle)
                Enter(TStep::Idle);
        });
    });
    FReader.SetPort(Config.Port);
    FReader.OnDisconnect = [this](QObject*) { Guarded([this] { Lost(); }); };
    FReader.OnCardSwipe = [this](QObject*, TRfidTag& Card) { Guarded([&] { Swiped(Card); }); };
    FReader.OnDoorConfig = [this](QObject*) {
        Guarded([this] {
            FDoorSettingsKnown = true;
            emit DoorSettingsRead();
            if (FStep == TStep::SettingDoor)
                DoorSettingsArrived();
            else if (FStep == TStep::AskingDoor)
                Advance();
        });
    };
    FReader.OnTransferEnd = [this](QObject*) {
        AfterTransfer([this] {
            if (FStep == TStep::ReadingCards)
                CardsRead();
            else if (FStep == TStep::Verifying)
                Verify();
        });
    };
    FReader.OnEndUpdate = [this](QObject*) {
        AfterTransfer([this] {
            if (FStep == TStep::Writing)
                Advance();
        });
    };
    FReader.OnTransferStalled = [this](QObject*) { Guarded([this] { GaveUp(); }); };
    FReader.OnError = [this](QObject*, const std::exception& E) { Say(4, QString::fromUtf8(E.what())); };
    FReader.OnBytes = [this](QObject*, const uint8_t* Bytes, int Count) {
        if (FSocket && !FSocket->Send(Bytes, Count))
            QMetaObject::invokeMethod(this, [this] {
                Guarded([this] { DropClient(QStringLiteral("the program on %1 does not read what the reader sends: it is let go").arg(SocketPath())); });
            }, Qt::QueuedConnection);
    };
    FReader.ComPort().OnWriteRoom = [this](QObject*) { Guarded([this] { FlushToReader(); }); };

    if (RuntimeDirectory.isEmpty())
        return;
    FSocket = std::make_unique<TDoorSocket>(SocketPath());
    FSocket->OnClientArrived = [this] { Guarded([this] { ClientArrived(); }); };
    FSocket->OnClientLeft = [this] {
        Guarded([this] {
            if (FStep != TStep::Relaying)
                return;
            Say(6, QStringLiteral("the program let go of the door"));
            Advance(); // it may have changed the reader: read it again
        });
    };
    FSocket->OnClientBytes = [this](const QByteArray& Bytes) { Guarded([&] { ClientBytes(Bytes); }); };
}

TDoor::~TDoor()
{
    FReader.OnDisconnect = nullptr;
    FReader.OnBytes = nullptr;
    FReader.ComPort().OnWriteRoom = nullptr;
    FSocket.reset();
}

QString TDoor::SocketPath() const { return FRuntimeDirectory + u'/' + FConfig.Id + QStringLiteral(".sock"); }

void TDoor::Say(int Priority, const QString& Text) const
{
    if (OnSay)
        return OnSay(Priority, QStringLiteral("%1: %2").arg(FConfig.Id, Text));
    AgentLog(TPriority(Priority), QStringLiteral("%1: %2").arg(FConfig.Id, Text));
}

void TDoor::Start()
{
    FStarted = true;
    Enter(TStep::Opening);
}

void TDoor::Stop(std::function<void()> Done)
{
    if (FStep == TStep::Stopped)
        return Done();
    FStopped = std::move(Done);
    FStopWanted = true;
    FAgain.stop();
    if (!WriteStep(FStep))
        Enter(TStep::Stopped);
}

void TDoor::Close()
{
    FBound.stop();
    FAgain.stop();
    if (FSocket)
        FSocket->Close();
    FReader.Disconnect();
    WriteEnded(false, QStringLiteral("door %1 stopped").arg(FConfig.Id));
    if (FStopped)
        std::exchange(FStopped, nullptr)();
}

// ---- holding the reader

void TDoor::Wait()
{
    FBackoffMs = FBackoffMs == 0 ? FirstRetryMs : std::min(2 * FBackoffMs, LastRetryMs);
    FBound.start(FBackoffMs);
}

void TDoor::DevicesChanged()
{
    if (!FStarted || FStep != TStep::Waiting || NetworkPort(FConfig.Port))
        return;
    Say(7, QStringLiteral("a serial device came or went: trying %1 now").arg(FConfig.Port));
    Enter(TStep::Opening);
}

void TDoor::Open()
{
    const uint64_t Attempt = ++FAttempt;
    // A device answers at once; a network reader from the loop, while every other door goes on.
    FReader.ComPort().OpenPortLater([this, Attempt](const QString& Error) {
        Guarded([&] {
            if (FStep == TStep::Opening && Attempt == FAttempt)
                Opened(Error);
        });
    });
}

void TDoor::Opened(const QString& Error)
{
    if (!Error.isEmpty()) {
        if (Error != FLastFailure)
            Say(4, QStringLiteral("cannot open %1: %2").arg(FConfig.Port, Error));
        FLastFailure = Error;
        return Enter(TStep::Waiting);
    }
    FLastFailure.clear();
    FBackoffMs = 0;
    FAgainMs = 0;
    FAgain.stop();
    FReadWanted = false;
    FDoorSettingsKnown = false;
    Say(6, QStringLiteral("connected to %1").arg(FConfig.Port));
    emit StatusChanged();
    // What the reader holds decides what "known" means in the log.
    Advance();
}

void TDoor::OpenOverdue()
{
    FReader.Disconnect(); // gives the opening up
    Opened(QStringLiteral("no answer within %1 s").arg(OpenMs / 1000));
}

void TDoor::Lost()
{
    const TStep Was = FStep;
    if (Was == TStep::Stopped || Was == TStep::Waiting || Was == TStep::Opening)
        return; // closed by the door itself, or an open that failed and says so
    FDoorSettingsKnown = false;
    // The program that drove the door loses its line with the reader's; the next connect is ours.
    if (FSocket)
        FSocket->DropClient();
    if (WriteStep(Was)) {
        if (FWritingSite && Was != TStep::SettingDoor) {
            FPushWanted = true;
            Say(3, QStringLiteral("the reader went away while the site file was written: it is written again on return"));
        }
        WriteEnded(false, QStringLiteral("the reader went away before the write was verified"));
    }
    Say(4, QStringLiteral("lost the reader on %1; taking it again").arg(FConfig.Port));
    FBackoffMs = 0;
    Enter(TStep::Waiting);
    emit StatusChanged();
}

// Handled once the component's own handler has returned (the next step starts a transfer), and
// only on the line it came from.
void TDoor::AfterTransfer(std::function<void()> Then)
{
    const uint64_t Line = FReader.ComPort().Generation();
    QMetaObject::invokeMethod(this, [this, Line, Then = std::move(Then)] {
        Guarded([&] {
            if (FReader.ComPort().Generation() == Line)
                Then();
        });
    }, Qt::QueuedConnection);
}

void TDoor::GaveUp()
{
    if (FStep == TStep::ReadingCards)
        ReadFailed();
    else if (FStep == TStep::Writing || FStep == TStep::Verifying)
        WriteFailed();
}

// ---- reading the reader

void TDoor::AskDoor() { FReader.ReadDoorConfig(); }

void TDoor::DoorSettingsOverdue()
{
    Say(4, QStringLiteral("no door settings from the reader; reading its cards"));
    Advance();
}

void TDoor::ReadCards() { FReader.ReadDatabase(); }

void TDoor::CardsRead()
{
    FHeld = ValuesOf(FReader.Tags());
    FReadWanted = false;
    NameCards();
    FPushWanted = FConfig.PushSiteFile && FHasWanted && ReaderDiffersFromWanted();
    Advance();
}

void TDoor::ReadFailed()
{
    FReader.CancelTransfer();
    FReadWanted = true;
    TryAgainLater();
    Say(4, QStringLiteral("reading the reader's cards failed: it stopped answering; tried again in %1 s").arg(FAgainMs / 1000));
    Enter(TStep::Idle);
}

// The reader keeps no names: the site file's are the door's.
void TDoor::NameCards()
{
    NameHeld();
    Say(6, QStringLiteral("the reader holds %1 cards").arg(FReader.Tags().Count()));
    emit CardsChanged();
}

void TDoor::NameHeld()
{
    for (int I = 0; I < FReader.Tags().Count(); ++I) {
        const int Named = FSite.IndexOf(FReader.Tags().Items(I));
        FReader.Tags().Items(I).Name = Named >= 0 ? FSite.Items(Named).Name : QByteArray();
    }
}

// Between steps: a program waiting for the door gets it, or what is wanted starts, unless a
// failed attempt waits for its backoff.
void TDoor::Idle()
{
    if (FSocket && FSocket->HasClient())
        return Enter(TStep::Relaying);
    if (FAgain.isActive())
        return;
    if (FReadWanted)
        return Enter(TStep::ReadingCards);
    if (FPushWanted)
        PushSiteFile();
}

// ---- swipes

void TDoor::Swiped(const TRfidTag& Card)
{
    // The list in Reader() is empty while a read runs and new before a write is verified.
    const bool Known = std::find(FHeld.begin(), FHeld.end(), Card.CardValue()) != FHeld.end();
    const int Named = FSite.IndexOf(Card);
    const QString Name = Named >= 0 ? NameToText(FSite.Items(Named).Name) : QString();
    if (OnSwipe)
        OnSwipe(*this, Card, Known, Name);
}

// ---- the list it should hold

void TDoor::SetSite(const TRfidTags& Named)
{
    FSite.Clear();
    for (int I = 0; I < Named.Count(); ++I)
        FSite.Add() = Named.Items(I);
    NameHeld();
}

void TDoor::SetWanted(const TRfidTags& Cards, uint32_t Master, const QString& What)
{
    FWanted.Clear();
    for (int I = 0; I < Cards.Count(); ++I)
        FWanted.Add() = Cards.Items(I);
    FWantedMaster = Master;
    FWantedWhat = What;
    FHasWanted = true;
    if (!FConfig.PushSiteFile || Stopping())
        return;
    // Offline, relayed or reading: compared with what the reader holds once that is read.
    FPushWanted = ReaderDiffersFromWanted();
    if (!FPushWanted)
        return;
    FAgain.stop(); // a new list is tried at once
    if (FStep == TStep::Idle)
        Enter(TStep::Idle);
}

bool TDoor::ReaderDiffersFromWanted() const
{
    return FHeld != ValuesOf(FWanted) || (FReader.Master() & 0xFF) != (FWantedMaster & 0xFF);
}

void TDoor::PushSiteFile()
{
    FPushWanted = false;
    FWritingSite = true;
    PushCards(FWanted, FWantedMaster, FWantedWhat, nullptr);
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
    Enter(TStep::Writing);
}

void TDoor::Write() { FReader.WriteDatabase(); }

void TDoor::ReadBack() { FReader.ReadDatabase(); }

void TDoor::Verify()
{
    FHeld = ValuesOf(FReader.Tags()); // what it holds now, whatever was asked
    try {
        ::Verify(FWritten, uint8_t(FWrittenMaster & 0xFF), FReader);
        const QString Done = QStringLiteral("wrote %1 to the reader and verified %2 cards").arg(FWriting).arg(FWritten.size());
        Say(5, Done);
        FAgainMs = 0;
        WriteEnded(true, Done);
    } catch (const std::exception& E) {
        Say(3, QStringLiteral("writing %1 failed: %2").arg(FWriting, QString::fromUtf8(E.what())));
        if (FWritingSite) {
            FPushWanted = true;
            TryAgainLater();
        }
        WriteEnded(false, QString::fromUtf8(E.what()));
    }
    NameCards();
    Advance();
}

void TDoor::WriteFailed()
{
    FReader.CancelTransfer();
    const QString Why = QStringLiteral("the reader stopped answering");
    Say(3, QStringLiteral("writing %1 failed: %2").arg(FWriting, Why));
    // What it holds now is unknown: read again, and a site file written again, after the backoff.
    FReadWanted = true;
    FPushWanted = FPushWanted || FWritingSite;
    TryAgainLater();
    WriteEnded(false, Why);
    Enter(TStep::Idle);
}

void TDoor::WriteEnded(bool Ok, const QString& Message)
{
    FWritingSite = false;
    if (FWriteDone)
        std::exchange(FWriteDone, nullptr)(Ok, Message);
}

// ---- commands

QString TDoor::CommandRefusal() const
{
    if (Stopping())
        return QStringLiteral("door %1 is stopping").arg(FConfig.Id);
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
    FWritingSite = false;
    PushCards(Cards, Master, QStringLiteral("a card list"), std::move(Done));
}

void TDoor::WriteDoorSettings(TDoorMode Mode, uint8_t Delay, TDone Done)
{
    if (const QString Why = CommandRefusal(); !Why.isEmpty())
        return Done(false, Why);
    FWantedMode = Mode;
    FWantedDelay = Delay;
    FWriteDone = std::move(Done);
    Enter(TStep::SettingDoor);
}

// The reader does not acknowledge the settings: reading them back is the only proof.
void TDoor::SetDoor()
{
    FReader.WriteDoorConfig(FWantedMode, FWantedDelay);
    FReader.ReadDoorConfig();
}

void TDoor::DoorSettingsArrived()
{
    const bool Took = FReader.DoorMode() == FWantedMode && FReader.DoorDelay() == FWantedDelay;
    Say(Took ? 5 : 3, Took ? QStringLiteral("door settings written") : QStringLiteral("the reader did not take the door settings"));
    WriteEnded(Took, Took ? QStringLiteral("door settings written and read back") : QStringLiteral("the reader did not take the door settings"));
    Advance();
}

void TDoor::DoorSettingsFailed()
{
    Say(3, QStringLiteral("the reader did not answer with its door settings"));
    WriteEnded(false, QStringLiteral("the reader did not answer with its door settings"));
    Enter(TStep::Idle);
}

// ---- a program through the socket

void TDoor::ClientArrived()
{
    if (!FReader.Connected() || Stopping()) {
        FSocket->Refuse(Stopping() ? QStringLiteral("door %1 is stopping").arg(FConfig.Name)
                                   : QStringLiteral("the reader of door %1 is not connected; dorvik-agent is trying to take it again").arg(FConfig.Name));
        return;
    }
    if (FStep == TStep::Idle)
        Enter(TStep::Relaying); // else it gets the door when the running step ends
}

void TDoor::Relay()
{
    FReader.SetRelaying(true);
    Say(6, QStringLiteral("a program drives the door through %1").arg(SocketPath()));
    FSocket->Accept();
}

void TDoor::EndRelay()
{
    FReader.SetRelaying(false);
    FToReader.clear();
    if (FSocket)
        FSocket->DropClient();
}

// A program's bytes go as fast as the line takes them and never wait on the loop; what it sends
// beyond that is held up to a bound, past which it is let go.
void TDoor::ClientBytes(const QByteArray& Bytes)
{
    if (FStep != TStep::Relaying)
        return;
    FToReader += Bytes;
    if (FToReader.size() > TDoorSocket::Backlog)
        return DropClient(QStringLiteral("the program on %1 sent more than the reader takes (%2 bytes waiting): it is let go")
                              .arg(SocketPath()).arg(FToReader.size()));
    FlushToReader();
}

void TDoor::FlushToReader()
{
    if (FStep != TStep::Relaying || FToReader.isEmpty() || !FReader.Connected())
        return;
    FToReader.remove(0, FReader.ComPort().WriteSome(FToReader.constData(), int(FToReader.size())));
}

void TDoor::DropClient(const QString& Why)
{
    if (FStep != TStep::Relaying)
        return;
    Say(4, Why);
    Advance(); // as when it lets go: the reader is read again
}
