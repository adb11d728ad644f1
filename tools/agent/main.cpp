// dorvik-agent: the resident service that holds every door's reader all the time.

#include "agent/Agent.h"
#include "agent/AgentConfig.h"
#include "agent/AgentLog.h"
#include "agent/SiteRules.h"
#include "bus/MqttBridge.h"
#include "common/SignalWatch.h"
#include "common/Errors.h"
#include "discovery/AgentDoors.h"
#include "web/WebServer.h"
#include "web/WebSite.h"
#include "web/WebUsersFile.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

namespace {

const char Usage[] =
    "Usage: dorvik-agent [--config FILE] [--check]\n"
    "\n"
    "Holds the card readers named in its configuration all the time: takes each again\n"
    "after an unplug or a network drop, records every swipe in the access log, offers\n"
    "each door to Dorvik Manager and dorvik-cli as a local socket, and writes a door's\n"
    "site card file to its reader whenever the file changes. With an [mqtt] section it\n"
    "also publishes every door on an MQTT broker, with Home Assistant discovery; with a\n"
    "[web] section it serves a page of the doors and their activity (HTTPS).\n"
    "\n"
    "  --config FILE  the configuration (default /etc/dorvik/agent.conf)\n"
    "  --check        check the configuration and exit\n"
    "  -h, --help     show this help\n"
    "  -v, --version  show the version\n"
    "\n"
    "Signals: SIGHUP reloads the configuration, SIGTERM ends every transfer, says every\n"
    "door offline on the broker and stops.\n";

int Fail(const QString& Text, int Status)
{
    AgentLog(TPriority::Error, QStringLiteral("dorvik-agent: %1").arg(Text));
    return Status;
}

QString DoorCount(const TAgentConfig& Config)
{
    const auto Count = Config.Doors.size();
    return Count == 1 ? QStringLiteral("1 door") : QStringLiteral("%1 doors").arg(Count);
}

// The page's certificate must load; a users file that cannot be used yet is only said.
void CheckWeb(const TWebSettings& Settings)
{
    TWebServer::CheckTls(Settings);
    std::printf("web page on %s\n", Settings.Url().toLocal8Bit().constData());
    try {
        const size_t Users = LoadWebUsers(Settings.UsersFile).size();
        std::printf("%s: %zu users\n", Settings.UsersFile.toLocal8Bit().constData(), Users);
    } catch (const std::exception& E) {
        std::printf("warning: no one can sign in yet: %s\n", E.what());
    }
}

// Each door as it will be logged and published, so a name cut by a comment shows here.
int Check(const QString& ConfigFile, const TAgentConfig& Config)
{
    QString Text = QStringLiteral("%1: %2\n").arg(ConfigFile, DoorCount(Config));
    for (const TDoorConfig& D : Config.Doors)
        Text += QStringLiteral("  [%1] name \"%2\", port %3\n").arg(D.Id, D.Name, D.Port);
    Text += QStringLiteral("(%1)\n").arg(AgentConfigRule());
    bool Good = true;
    Text += SiteFilesReport(Config, QDateTime::currentDateTimeUtc(), Good);
    std::fputs(Text.toLocal8Bit().constData(), stdout);
    if (Config.Web)
        CheckWeb(*Config.Web);
    return Good ? 0 : 1;
}

int Serve(QCoreApplication& App, const QString& ConfigFile)
{
    // Signals are read from the loop only: one that comes while the doors start waits for it,
    // and none is handled inside a door's step (no door's step waits on the loop).
    TSignalWatch Signals;
    TAgent Agent(ConfigFile, AgentRuntimeDirectory());
    Agent.OnCheckConfig = [&](const TAgentConfig& Config) { MqttSettingsIn(ConfigFile, Config); };
    // The bus is made once there is an [mqtt] section, and goes only with the agent.
    std::unique_ptr<TMqttBridge> Bus;
    auto FollowMqtt = [&] {
        const std::optional<TMqttSettings> Settings = MqttSettingsIn(ConfigFile, Agent.Config());
        if (Bus)
            Bus->Apply(Settings);
        else if (Settings)
            Bus = std::make_unique<TMqttBridge>(Agent, *Settings);
    };
    // The page is made once there is a [web] section; on a reload it follows the new settings.
    std::unique_ptr<TWebSite> Web;
    auto FollowWeb = [&] {
        if (Web)
            Web->Apply(Agent.Config().Web);
        else if (Agent.Config().Web)
            Web = std::make_unique<TWebSite>(Agent, *Agent.Config().Web);
    };
    Signals.OnReload = [&] {
        if (Agent.Stopping())
            return;
        Agent.Reload();
        FollowMqtt();
        FollowWeb();
    };
    Signals.OnStop = [&] {
        if (Agent.Stopping())
            return;
        AgentLog(TPriority::Notice, QStringLiteral("stopping"));
        // The doors end their writes first; then the bus says every door offline.
        Agent.Stop([&] {
            if (!Bus)
                return App.quit();
            Bus->Stop([&] { App.quit(); });
        });
    };
    Agent.Start();
    FollowMqtt();
    FollowWeb();
    AgentLog(TPriority::Notice, QStringLiteral("holding %1").arg(DoorCount(Agent.Config())));
    return App.exec();
}

} // namespace

int main(int argc, char** argv)
{
    // Before any thread exists, so that only the signal watch takes them.
    TSignalWatch::BlockSignals();
    QCoreApplication App(argc, argv);
    // Errors met in the event loop (a door's line) are said and the agent goes on.
    SetExceptionReporter([](const std::exception& E) { AgentLog(TPriority::Error, QString::fromUtf8(E.what())); });
    QString ConfigFile = QStringLiteral("/etc/dorvik/agent.conf");
    bool CheckOnly = false;
    const QStringList Args = App.arguments().mid(1);
    for (qsizetype I = 0; I < Args.size(); ++I) {
        const QString& A = Args[I];
        if (A == u"--help" || A == u"-h") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (A == u"--version" || A == u"-v") {
            std::puts("dorvik-agent (Dorvik Manager) " DORVIK_VERSION);
            return 0;
        }
        if (A == u"--check")
            CheckOnly = true;
        else if (A == u"--config" && I + 1 < Args.size())
            ConfigFile = Args[++I];
        else if (A.startsWith(QStringLiteral("--config=")))
            ConfigFile = A.mid(9);
        else
            return Fail(QStringLiteral("unknown argument '%1' (see dorvik-agent --help)").arg(A), 2);
    }
    try {
        const TAgentConfig Config = LoadAgentConfig(ConfigFile);
        MqttSettingsIn(ConfigFile, Config);
        if (CheckOnly)
            return Check(ConfigFile, Config);
        return Serve(App, ConfigFile);
    } catch (const std::exception& E) {
        return Fail(QString::fromUtf8(E.what()), 1);
    }
}
