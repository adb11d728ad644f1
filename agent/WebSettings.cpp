#include "agent/WebSettings.h"

#include "common/Errors.h"

namespace {

[[noreturn]] void Bad(const QString& Key, const QString& Why)
{
    throw Exception(QStringLiteral("[web] %1 %2").arg(Key, Why).toStdString());
}

// "127.0.0.1:8443", "[::1]:8443", "0.0.0.0:8443": an address, never a name (nothing is looked up).
void ReadListen(const QString& Text, TWebSettings& W)
{
    const qsizetype Colon = Text.lastIndexOf(u':');
    QString Host = Text.left(Colon);
    if (Host.startsWith(u'[') && Host.endsWith(u']'))
        Host = Host.mid(1, Host.size() - 2);
    else if (Host.contains(u':'))
        Bad(QStringLiteral("listen"), QStringLiteral("writes an IPv6 address in brackets: [::1]:8443, not '%1'").arg(Text));
    bool Ok = false;
    const uint Port = Text.mid(Colon + 1).toUInt(&Ok);
    if (Colon <= 0 || !Ok || Port > 65535 || !W.Address.setAddress(Host))
        Bad(QStringLiteral("listen"), QStringLiteral("takes ADDRESS:PORT (127.0.0.1:8443, [::1]:8443, 0.0.0.0:8443), not '%1'").arg(Text));
    W.Port = quint16(Port);
}

} // namespace

QString TWebSettings::Url() const
{
    const QString Host = Address.protocol() == QAbstractSocket::IPv6Protocol ? u'[' + Address.toString() + u']' : Address.toString();
    return QStringLiteral("%1://%2:%3").arg(Tls() ? QStringLiteral("https") : QStringLiteral("http"), Host).arg(Port);
}

TWebSettings ParseWebSettings(const QMap<QString, QString>& S)
{
    TWebSettings W;
    if (S.contains(QStringLiteral("listen")))
        ReadListen(S.value(QStringLiteral("listen")), W);
    W.CertFile = S.value(QStringLiteral("cert-file"));
    W.KeyFile = S.value(QStringLiteral("key-file"));
    if (W.CertFile.isEmpty() != W.KeyFile.isEmpty())
        Bad(W.CertFile.isEmpty() ? QStringLiteral("cert-file") : QStringLiteral("key-file"),
            QStringLiteral("is missing: HTTPS takes both cert-file and key-file"));
    // Passwords and session cookies would cross the network in clear text.
    if (!W.Tls() && !W.Address.isLoopback())
        Bad(QStringLiteral("listen"), QStringLiteral("%1 is reachable from other computers: give cert-file and key-file, "
                                                     "plain HTTP is served on loopback only")
                                          .arg(S.value(QStringLiteral("listen"))));
    W.UsersFile = S.value(QStringLiteral("users-file"), W.UsersFile);
    if (W.UsersFile.isEmpty())
        Bad(QStringLiteral("users-file"), QStringLiteral("must not be empty"));
    return W;
}
