#include "web/WebUsers.h"

#include "common/Errors.h"
#include "web/PasswordHash.h"

#include <QRegularExpression>

QString RoleName(TWebRole Role) { return Role == TWebRole::Admin ? QStringLiteral("admin") : QStringLiteral("viewer"); }

std::optional<TWebRole> RoleNamed(const QString& Name)
{
    if (Name == u"viewer")
        return TWebRole::Viewer;
    if (Name == u"admin")
        return TWebRole::Admin;
    return std::nullopt;
}

bool ValidUserName(const QString& Name)
{
    static const QRegularExpression Allowed(QStringLiteral("^[A-Za-z0-9._@-]{1,64}$"));
    return Allowed.match(Name).hasMatch();
}

std::vector<TWebUser> ParseWebUsers(const QString& FileName, const QByteArray& Text)
{
    std::vector<TWebUser> Users;
    int Number = 0;
    for (const QByteArray& Raw : Text.split('\n')) {
        ++Number;
        const QByteArray Line = Raw.trimmed();
        if (Line.isEmpty() || Line.startsWith('#'))
            continue;
        const auto Bad = [&](const QString& Why) {
            throw Exception(QStringLiteral("%1:%2: %3").arg(FileName).arg(Number).arg(Why).toStdString());
        };
        const QList<QByteArray> Fields = Line.split(':');
        if (Fields.size() != 3)
            Bad(QStringLiteral("expected name:role:hash"));
        TWebUser User{QString::fromUtf8(Fields[0]), TWebRole::Viewer, Fields[2]};
        if (!ValidUserName(User.Name))
            Bad(QStringLiteral("'%1' is not a user name (letters, digits, '.', '_', '-', '@')").arg(User.Name));
        const std::optional<TWebRole> Role = RoleNamed(QString::fromUtf8(Fields[1]));
        if (!Role)
            Bad(QStringLiteral("the role of %1 is viewer or admin, not '%2'").arg(User.Name, QString::fromUtf8(Fields[1])));
        User.Role = *Role;
        if (!HashUsable(User.Hash))
            Bad(QStringLiteral("the password hash of %1 is not one the system's crypt takes").arg(User.Name));
        for (const TWebUser& Other : Users)
            if (Other.Name == User.Name)
                Bad(QStringLiteral("%1 is given twice").arg(User.Name));
        Users.push_back(User);
    }
    return Users;
}

QByteArray WebUsersText(const std::vector<TWebUser>& Users)
{
    QByteArray Text = "# name:role:hash - written by dorvik-cli web-user\n";
    for (const TWebUser& U : Users)
        Text += U.Name.toUtf8() + ':' + RoleName(U.Role).toUtf8() + ':' + U.Hash + '\n';
    return Text;
}
