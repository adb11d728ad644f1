#pragma once

#include <QHostAddress>
#include <QMap>
#include <QString>

// The [web] section read into values, with its defaults filled in.
struct TWebSettings
{
    QHostAddress Address = QHostAddress::LocalHost;
    quint16 Port = 8443; // 0: any free port (tests)
    QString CertFile;    // given (with KeyFile): HTTPS
    QString KeyFile;
    QString UsersFile = QStringLiteral("/etc/dorvik/web-users");

    bool Tls() const { return !CertFile.isEmpty(); }
    // The address a person types: "https://192.168.1.20:8443".
    QString Url() const;
    bool operator==(const TWebSettings&) const = default;
};

// Raises Exception with a message that names the key ("[web] listen ..."). Relative file names
// are taken as they stand: AgentConfig has made them absolute.
TWebSettings ParseWebSettings(const QMap<QString, QString>& Section);
