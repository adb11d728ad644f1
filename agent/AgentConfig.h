#pragma once

#include "agent/WebSettings.h"

#include "access/AccessRules.h"
#include "access/Schedule.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>
#include <vector>

// One door the agent holds: its id is the section's name (letters, digits, '-'), used in socket
// names and topics.
struct TDoorConfig
{
    QString Id;
    QString Name; // the id when not given
    QString Port;
    QString SiteFile;
    bool PushSiteFile = true; // false: the site file only names the cards

    bool operator==(const TDoorConfig&) const = default;
};

struct TAgentConfig
{
    std::vector<TDoorConfig> Doors;
    QString LogPath;                               // [log] path; empty: the state folder's access.db
    int KeepDays = 0;                              // [log] keep-days; 0: rows are kept
    std::optional<QMap<QString, QString>> Mqtt;    // [mqtt], as written; none: no message bus
    std::optional<TWebSettings> Web;               // [web]; none: no page
    QByteArray TimeZone;                           // [site] time-zone, a zone the system knows; empty: the system's
    QMap<QString, TSchedule> Schedules;            // [schedule NAME] sections, by name
    bool TrustClock = false;                       // [site] trust-clock: take cards away by a clock not synchronized
    int MqttLine = 0;                              // where [mqtt] starts, for messages
};

// Reads the agent's INI file. A bad file raises Exception with a message that names the file,
// the section and the key: the agent does not start on a guess.
TAgentConfig LoadAgentConfig(const QString& FileName);

// The site's time zone and schedules, and the doors whose site-file is SiteFile (the same file,
// by its real path).
TAccessSetup AccessSetupOf(const TAgentConfig& Config, const QString& SiteFile);
TAgentConfig ParseAgentConfig(const QString& FileName, const QByteArray& Text);

// How comments and quotes are read, for messages that hinge on it.
QString AgentConfigRule();
