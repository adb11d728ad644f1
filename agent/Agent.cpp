#include "agent/Agent.h"

#include "agent/AgentLog.h"
#include "agent/Door.h"
#include "discovery/AgentDoors.h"
#include "discovery/USBPnP.h"
#include "log/AccessLog.h"
#include "log/SwipeRecord.h"

#include "common/Errors.h"

#include <QDir>

#include <algorithm>

TAgent::TAgent(const QString& ConfigFile, const QString& RuntimeDirectory, QObject* Owner)
    : QObject(Owner), FConfigFile(ConfigFile), FRuntimeDirectory(RuntimeDirectory)
{
}

TAgent::~TAgent()
{
    FDoors.clear();
    RemoveAgentDoors(FRuntimeDirectory);
}

QString TAgent::LogPath() const
{
    return FConfig.LogPath.isEmpty() ? AgentStateDirectory() + QStringLiteral("/access.db") : FConfig.LogPath;
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
    if (!QDir().mkpath(FRuntimeDirectory))
        throw Exception(QStringLiteral("Cannot make the folder %1").arg(FRuntimeDirectory).toStdString());
    FConfig.LogPath = Config.LogPath;
    FLog = std::make_unique<TAccessLog>(LogPath());
    if (!FLog->Error().isEmpty())
        AgentLog(TPriority::Error, FLog->Error());
    // Rows older than [log] keep-days go once a day, and at start.
    connect(&FPruneTimer, &QTimer::timeout, this, [this] { Prune(); });
    FPruneTimer.start(24 * 3600 * 1000);
    // A reader back on USB is taken at once, not at the next retry.
    try {
        FDevices = std::make_unique<TUSBPnP>(this);
        FDevices->OnChange = [this](QObject*) {
            for (auto& [Id, Door] : FDoors)
                Door->DevicesChanged();
        };
        FDevices->Refresh();
    } catch (const std::exception& E) {
        AgentLog(TPriority::Warning, QStringLiteral("no notices of USB devices (%1): readers are retried on a timer only")
                                         .arg(QString::fromUtf8(E.what())));
    }
    Apply(Config);
}

void TAgent::Reload()
{
    try {
        Apply(ReadConfig());
        AgentLog(TPriority::Notice, QStringLiteral("reloaded %1").arg(FConfigFile));
    } catch (const std::exception& E) {
        AgentLog(TPriority::Error, QStringLiteral("%1; the running doors are kept").arg(QString::fromUtf8(E.what())));
    }
}

void TAgent::Apply(const TAgentConfig& Config)
{
    for (auto I = FDoors.begin(); I != FDoors.end();) {
        const auto Same = std::find(Config.Doors.begin(), Config.Doors.end(), I->second->Config());
        if (Same != Config.Doors.end()) {
            ++I;
            continue;
        }
        const QString Id = I->first;
        I = FDoors.erase(I);
        AgentLog(TPriority::Info, QStringLiteral("%1: let go").arg(Id));
        if (OnDoorRemoved)
            OnDoorRemoved(Id);
    }
    for (const TDoorConfig& D : Config.Doors) {
        if (FDoors.count(D.Id))
            continue;
        try {
            auto Door = std::make_unique<TDoor>(D, FRuntimeDirectory);
            TDoor& Added = *Door;
            Added.OnSwipe = [this](TDoor& At, const TRfidTag& Card, bool Known, const QString& Name) {
                Record(At, Card, Known, Name);
            };
            FDoors[D.Id] = std::move(Door);
            if (OnDoorAdded)
                OnDoorAdded(Added);
            Added.Start();
        } catch (const std::exception& E) {
            AgentLog(TPriority::Error, QStringLiteral("%1: %2").arg(D.Id, QString::fromUtf8(E.what())));
        }
    }
    FConfig = Config;
    PublishDoors();
    Prune();
}

void TAgent::Prune()
{
    if (FConfig.KeepDays <= 0 || !FLog)
        return;
    const int Removed = FLog->Prune(QDateTime::currentDateTimeUtc().addDays(-FConfig.KeepDays));
    if (Removed > 0)
        AgentLog(TPriority::Info, QStringLiteral("removed %1 swipes older than %2 days from the log").arg(Removed).arg(FConfig.KeepDays));
}

// Logged first, whatever is done with the swipe afterwards.
void TAgent::Record(TDoor& Door, const TRfidTag& Card, bool Known, const QString& Name)
{
    TSwipeRecord Swipe = MakeSwipeRecord(Card, Door.Config().Name, nullptr);
    Swipe.Known = Known;
    Swipe.Name = Name;
    FLog->Record(Swipe);
    if (FLog->Error() != FLogProblem) {
        FLogProblem = FLog->Error();
        AgentLog(FLogProblem.isEmpty() ? TPriority::Notice : TPriority::Error,
                 FLogProblem.isEmpty() ? QStringLiteral("the access log takes swipes again") : FLogProblem);
    }
    AgentLog(TPriority::Info, QStringLiteral("%1: %2 card %3%4").arg(Door.Config().Id, Known ? QStringLiteral("known") : QStringLiteral("unknown"),
                                                                  Swipe.CardNumber, Name.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(Name)));
    if (OnSwipe)
        OnSwipe(Door, Swipe);
}

void TAgent::PublishDoors()
{
    // The windows that reach a door through its socket show this log as the door's activity.
    const QString Log = FConfig.LogPath.isEmpty() ? AgentStateDirectory() + QStringLiteral("/access.db") : FConfig.LogPath;
    std::vector<TAgentDoor> Offered;
    for (const auto& [Id, Door] : FDoors)
        Offered.push_back({Id, Door->Config().Name, Door->Config().Port, Door->SocketPath(), Log});
    try {
        WriteAgentDoors(FRuntimeDirectory, Offered);
    } catch (const std::exception& E) {
        AgentLog(TPriority::Warning, QString::fromUtf8(E.what()));
    }
}

void TAgent::Stop(std::function<void()> Done)
{
    auto Left = std::make_shared<int>(int(FDoors.size()));
    auto Finish = std::make_shared<std::function<void()>>(std::move(Done));
    if (*Left == 0)
        return (*Finish)();
    for (auto& [Id, Door] : FDoors)
        Door->Stop([Left, Finish] {
            if (--*Left == 0)
                (*Finish)();
        });
}
