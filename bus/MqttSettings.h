#pragma once

#include <QMap>
#include <QString>

#include <optional>

struct TAgentConfig;

// The [mqtt] section read into values, with its defaults filled in.
struct TMqttSettings
{
    QString Host;
    int Port = 1883;
    QString ClientId;
    QString Username;
    QString PasswordFile; // the password itself is read only when connecting
    QString CaFile;       // given: TLS
    QString CertFile;
    QString KeyFile;
    QString Prefix = QStringLiteral("dorvik");
    int Keepalive = 60;
    bool Commands = false;
    bool Discovery = true;
    QString DiscoveryPrefix = QStringLiteral("homeassistant");

    bool Tls() const { return !CaFile.isEmpty(); }
    // Where the broker is, for messages: "broker.lan:8883".
    QString Address() const { return QStringLiteral("%1:%2").arg(Host).arg(Port); }
    bool operator==(const TMqttSettings&) const = default;
};

// Raises Exception with a message that names the key ("[mqtt] port ..."). Relative file names
// are taken as they stand: AgentConfig has made them absolute.
TMqttSettings ParseMqttSettings(const QMap<QString, QString>& Section);

// "dorvik-agent-<hostname>".
QString DefaultMqttClientId();

// The agent file's [mqtt] section checked and read; none without one. Raises Exception naming
// the file, the section's line and the key ("agent.conf:12: [mqtt] port ..."), so a bad value
// stops the agent at start, --check and reload, not at its first connect.
std::optional<TMqttSettings> MqttSettingsIn(const QString& FileName, const TAgentConfig& Config);
