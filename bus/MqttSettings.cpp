#include "bus/MqttSettings.h"

#include "agent/AgentConfig.h"
#include "common/Errors.h"

#include <QRegularExpression>
#include <QSet>
#include <QSysInfo>

namespace {

const QSet<QString> Keys = {"host", "port", "client-id", "username", "password-file", "ca-file", "cert-file",
                            "key-file", "prefix", "keepalive", "commands", "discovery", "discovery-prefix"};

[[noreturn]] void Bad(const QString& Key, const QString& Why)
{
    throw Exception(QStringLiteral("[mqtt] %1 %2").arg(Key, Why).toStdString());
}

int Number(const QMap<QString, QString>& S, const QString& Key, int Default, int Min, int Max)
{
    if (!S.contains(Key))
        return Default;
    bool Ok = false;
    const int Value = S.value(Key).toInt(&Ok);
    if (!Ok || Value < Min || Value > Max)
        Bad(Key, QStringLiteral("takes a number from %1 to %2, not '%3'").arg(Min).arg(Max).arg(S.value(Key)));
    return Value;
}

bool Flag(const QMap<QString, QString>& S, const QString& Key, bool Default)
{
    if (!S.contains(Key))
        return Default;
    const QString Value = S.value(Key).toLower();
    if (Value == u"true" || Value == u"yes" || Value == u"on" || Value == u"1")
        return true;
    if (Value == u"false" || Value == u"no" || Value == u"off" || Value == u"0")
        return false;
    Bad(Key, QStringLiteral("takes true or false, not '%1'").arg(S.value(Key)));
}

// A topic level of our own: no wildcards, no empty level, nothing a broker would refuse.
QString TopicPrefix(const QMap<QString, QString>& S, const QString& Key, const QString& Default)
{
    const QString Value = S.value(Key, Default);
    static const QRegularExpression Level(QStringLiteral("^[^/#+\\s]+(/[^/#+\\s]+)*$"));
    if (!Level.match(Value).hasMatch())
        Bad(Key, QStringLiteral("takes topic levels without '+', '#', spaces or empty levels, not '%1'").arg(Value));
    return Value;
}

} // namespace

QString DefaultMqttClientId() { return QStringLiteral("dorvik-agent-") + QSysInfo::machineHostName(); }

TMqttSettings ParseMqttSettings(const QMap<QString, QString>& S)
{
    for (auto I = S.cbegin(); I != S.cend(); ++I)
        if (!Keys.contains(I.key()))
            throw Exception(QStringLiteral("[mqtt] unknown key '%1'").arg(I.key()).toStdString());
    TMqttSettings M;
    M.Host = S.value(QStringLiteral("host"));
    if (M.Host.isEmpty())
        Bad(QStringLiteral("host"), QStringLiteral("is missing: the broker's name or address"));
    M.CaFile = S.value(QStringLiteral("ca-file"));
    M.CertFile = S.value(QStringLiteral("cert-file"));
    M.KeyFile = S.value(QStringLiteral("key-file"));
    if (M.CertFile.isEmpty() != M.KeyFile.isEmpty())
        Bad(M.CertFile.isEmpty() ? QStringLiteral("cert-file") : QStringLiteral("key-file"),
            QStringLiteral("is missing: a client certificate takes both cert-file and key-file"));
    if (!M.CertFile.isEmpty() && !M.Tls())
        Bad(QStringLiteral("ca-file"), QStringLiteral("is missing: a client certificate is only sent over TLS"));
    M.Port = Number(S, QStringLiteral("port"), M.Tls() ? 8883 : 1883, 1, 65535);
    M.ClientId = S.value(QStringLiteral("client-id"), DefaultMqttClientId());
    if (M.ClientId.isEmpty() || M.ClientId.toUtf8().size() > 65535)
        Bad(QStringLiteral("client-id"), QStringLiteral("must not be empty"));
    M.Username = S.value(QStringLiteral("username"));
    M.PasswordFile = S.value(QStringLiteral("password-file"));
    if (!M.PasswordFile.isEmpty() && M.Username.isEmpty())
        Bad(QStringLiteral("username"), QStringLiteral("is missing: a password-file goes with a username"));
    M.Prefix = TopicPrefix(S, QStringLiteral("prefix"), M.Prefix);
    M.Keepalive = Number(S, QStringLiteral("keepalive"), M.Keepalive, 5, 65535);
    M.Commands = Flag(S, QStringLiteral("commands"), M.Commands);
    M.Discovery = Flag(S, QStringLiteral("discovery"), M.Discovery);
    M.DiscoveryPrefix = TopicPrefix(S, QStringLiteral("discovery-prefix"), M.DiscoveryPrefix);
    return M;
}

std::optional<TMqttSettings> MqttSettingsIn(const QString& FileName, const TAgentConfig& Config)
{
    if (!Config.Mqtt)
        return std::nullopt;
    try {
        return ParseMqttSettings(*Config.Mqtt);
    } catch (const std::exception& E) {
        throw Exception(QStringLiteral("%1:%2: %3").arg(FileName).arg(Config.MqttLine).arg(QString::fromUtf8(E.what())).toStdString());
    }
}
