#include "agent/Agent.h"

#include "access/SystemClock.h"
#include "agent/AgentLog.h"
#include "agent/Door.h"
#include "agent/TimeKeeper.h"
#include "discovery/AgentDoors.h"
#include "discovery/SerialDeviceWatch.h"
#include "log/AccessLog.h"
#include "log/SwipeRecord.h"

#include "common/Errors.h"

#include <QDir>

#include <algorithm>

TAgent::TAgent(const QString& ConfigFile, const QString& RuntimeDirectory, const QString& StateDirectory, QObject* Owner)
    : QObject(Owner), FConfigFile(ConfigFile), FRuntimeDirectory(RuntimeDirectory),
      FStateDirectory(StateDirectory.isEmpty() ? AgentStateDirectory() : StateDirectory)
{
}

TAgent::~TAgent()
{
    FTime.reset();
    FDoors.clear();
    RemoveAgentDoors(FRuntimeDirectory);
    if (!FLog)
        return;
    const TLogClosing Closing = FLog->Close();
    if (Closing.SetAside > 0)
        AgentLog(TPriority::Warning, QStringLiteral("%1 swipes the access log could not take wait in %2 for the next start")
                                         .arg(Closing.SetAside).arg(PendingFilePath(FLog->Path())));
    if (Closing.Lost > 0)
        AgentLog(TPriority::Error, QStringLiteral("%1 swipes the access log could not take are lost: %2").arg(Closing.Lost).arg(Closing.Problem));
}

QString TAgent::LogPath() const
{
    return FConfig.LogPath.isEmpty() ? FStateDirectory + QStringLiteral("/access.db") : FConfig.LogPath;
}

std::vector<TDoor*> TAgent::Doors() const
{
    std::vector<TDoor*> Held;
    for (const auto& [Id, Door] : FDoors)
        Held.push_back(Door.get());
    return Held;
}

TAgentConfig TAgent::ReadConfig() const
{
    TAgentConfig Config = LoadAgentConfig(FConfigFile);
    if (OnCheckConfig)
        OnCheckConfig(Config);
    return Config;
}

void TAgent::Start()
{
    const TAgentConfig Config = ReadConfig();
    MakeAgentRuntimeDirectory(FRuntimeDirectory);
    FConfig.LogPath = Config.LogPath;
    // Written on a thread of its own: a locked or slow log never holds up the doors or the bus.
    FLog = std::make_unique<TAccessLog>(LogPath(), TAccessLog::TUse::Record, TLogSharing::Group);
    FollowLog();
    // Rows older than [log] keep-days go once a day, and at start.
    connect(&FPruneTimer, &QTimer::timeout, this, [this] {
        try {
            Prune();
        } catch (const std::exception& E) {
            ReportException(E);
        }
    });
    FPruneTimer.start(24 * 3600 * 1000);
    if (!FClock) {
        FOwnClock = std::make_unique<TSystemClock>(Config.TimeZone, nullptr);
        FClock = FOwnClock.get();
    }
    FTime = std::make_unique<TTimeKeeper>(*FClock, [this] { return Doors(); });
    FTime->OnSay = [this](int Priority, const QString& Text) {
        if (OnSay)
            return OnSay(Priority, Text);
        AgentLog(TPriority(Priority), Text);
    };
    // A reader back on any serial adapter (its port may be a /dev/serial/by-id/ path) is taken at
    // once, not at the next retry.
    try {
        FDevices = std::make_unique<TSerialDeviceWatch>(this);
        FDevices->OnChange = [this] {
            for (auto& [Id, Door] : FDoors)
                Door->DevicesChanged();
        };
    } catch (const std::exception& E) {
        AgentLog(TPriority::Warning, QStringLiteral("no notices of serial devices (%1): readers are retried on a timer only")
                                         .arg(QString::fromUtf8(E.what())));
    }
    Apply(Config);
}

void TAgent::Reload()
{
    if (FStopping)
        return AgentLog(TPriority::Notice, QStringLiteral("stopping: %1 is not read again").arg(FConfigFile));
    try {
        Apply(ReadConfig());
        AgentLog(TPriority::Notice, QStringLiteral("reloaded %1").arg(FConfigFile));
    } catch (const std::exception& E) {
        AgentLog(TPriority::Error, QStringLiteral("%1; the running doors are kept").arg(QString::fromUtf8(E.what())));
    }
}

void TAgent::Apply(TAgentConfig Config)
{
    // The log is open and the front ends read from it: another file needs a restart.
    if (FLog && Config.LogPath != FConfig.LogPath) {
        AgentLog(TPriority::Warning, QStringLiteral("[log] path changed: swipes still go to %1 until dorvik-agent is restarted")
                                         .arg(LogPath()));
        Config.LogPath = FConfig.LogPath;
    }
    FConfig = Config;
    for (auto& [Id, Door] : FDoors)
        if (!Door->Stopping() && std::find(Config.Doors.begin(), Config.Doors.end(), Door->Config()) == Config.Doors.end())
            StopDoor(*Door);
    StartWanted();
    FTime->Apply(FConfig);
    PublishDoors();
    Prune();
}

// Replaced (or let go) once it has stopped; it is destroyed from the loop, never beneath its
// own handler.
void TAgent::StopDoor(TDoor& Door)
{
    const QString Id = Door.Config().Id;
    AgentLog(TPriority::Info, QStringLiteral("%1: stopping").arg(Id));
    Door.Stop([this, Id] {
        QMetaObject::invokeMethod(this, [this, Id] {
            try {
                DoorStopped(Id);
            } catch (const std::exception& E) {
                ReportException(E);
            }
        }, Qt::QueuedConnection);
    });
}

void TAgent::DoorStopped(const QString& Id)
{
    if (FDoors.erase(Id) == 0)
        return;
    AgentLog(TPriority::Info, QStringLiteral("%1: let go").arg(Id));
    emit DoorRemoved(Id);
    if (FStopping && FDoors.empty() && FStopped)
        return std::exchange(FStopped, nullptr)();
    StartWanted();
    PublishDoors();
}

void TAgent::StartWanted()
{
    if (FStopping)
        return;
    for (const TDoorConfig& D : FConfig.Doors) {
        if (FDoors.count(D.Id))
            continue; // held, or stopping before it is replaced
        try {
            auto Door = std::make_unique<TDoor>(D, FRuntimeDirectory);
            TDoor& Added = *Door;
            Added.OnSwipe = [this](TDoor& At, const TRfidTag& Card, bool Known, const QString& Name) {
                Record(At, Card, Known, Name);
            };
            FDoors[D.Id] = std::move(Door);
            emit DoorAdded(&Added);
            FTime->Give(Added);
            Added.Start();
        } catch (const std::exception& E) {
            AgentLog(TPriority::Error, QStringLiteral("%1: %2").arg(D.Id, QString::fromUtf8(E.what())));
        }
    }
}

void TAgent::Stop(std::function<void()> Done)
{
    FStopping = true;
    FStopped = std::move(Done);
    if (FDoors.empty()) {
        QMetaObject::invokeMethod(this, [this] {
            try {
                if (FStopped)
                    std::exchange(FStopped, nullptr)();
            } catch (const std::exception& E) {
                ReportException(E);
            }
        }, Qt::QueuedConnection);
        return;
    }
    for (auto& [Id, Door] : FDoors)
        if (!Door->Stopping())
            StopDoor(*Door);
}

void TAgent::Prune()
{
    if (FConfig.KeepDays > 0 && FLog)
        FLog->Prune(QDateTime::currentDateTimeUtc().addDays(-FConfig.KeepDays));
}

// A swipe is in the log before anything else is done with it; one the log cannot take yet goes
// on at once, without its row's id.
void TAgent::FollowLog()
{
    const auto Tell = [this](const std::vector<TSwipeRecord>& Swipes) {
        for (const TSwipeRecord& Swipe : Swipes)
            emit Swiped(Swipe);
    };
    connect(FLog.get(), &TAccessLog::Committed, this, Tell);
    connect(FLog.get(), &TAccessLog::Held, this, Tell);
    connect(FLog.get(), &TAccessLog::Changed, this, [this] {
        if (FLog->Error() == FLogProblem)
            return;
        FLogProblem = FLog->Error();
        AgentLog(FLogProblem.isEmpty() ? TPriority::Notice : TPriority::Error,
                 FLogProblem.isEmpty() ? QStringLiteral("the access log takes swipes again") : FLogProblem);
    });
    connect(FLog.get(), &TAccessLog::Imported, this, [this](int Count) {
        AgentLog(TPriority::Notice, QStringLiteral("wrote %1 swipes kept at an earlier stop to the log").arg(Count));
    });
    connect(FLog.get(), &TAccessLog::Pruned, this, [this](int Removed) {
        if (Removed > 0)
            AgentLog(TPriority::Info, QStringLiteral("removed %1 swipes older than %2 days from the log").arg(Removed).arg(FConfig.KeepDays));
    });
}

void TAgent::Record(TDoor& Door, const TRfidTag& Card, bool Known, const QString& Name)
{
    TSwipeRecord Swipe = MakeSwipeRecord(Card, Door.Config().Name, nullptr);
    Swipe.DoorId = Door.Config().Id;
    Swipe.Known = Known;
    Swipe.Name = Name;
    Swipe.Reason = FTime->Why(Swipe.DoorId, Card, Known);
    FLog->Record(Swipe);
    AgentLog(TPriority::Info, QStringLiteral("%1: %2 card %3%4%5")
                                  .arg(Door.Config().Id, Known ? QStringLiteral("known") : QStringLiteral("unknown"), Swipe.CardNumber,
                                       Name.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(Name),
                                       Swipe.Reason.isEmpty() ? QString() : QStringLiteral(": %1").arg(Swipe.Reason)));
}

void TAgent::PublishDoors()
{
    // The windows that reach a door through its socket show this log as the door's activity.
    std::vector<TAgentDoor> Offered;
    for (const auto& [Id, Door] : FDoors)
        if (!Door->Stopping())
            Offered.push_back({Id, Door->Config().Name, Door->Config().Port, Door->SocketPath(), LogPath()});
    try {
        WriteAgentDoors(FRuntimeDirectory, Offered);
    } catch (const std::exception& E) {
        AgentLog(TPriority::Warning, QString::fromUtf8(E.what()));
    }
}
