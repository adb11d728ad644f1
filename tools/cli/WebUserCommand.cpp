#include "tools/cli/Arguments.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Console.h"
#include "tools/cli/PasswordInput.h"

#include "web/PasswordHash.h"
#include "web/WebUsersFile.h"

#include <QFileInfo>

#include <algorithm>

namespace {

const char WebUserHelp[] =
    "Usage: dorvik-cli web-user add NAME --role viewer|admin [--file FILE]\n"
    "       dorvik-cli web-user remove NAME [--file FILE]\n"
    "       dorvik-cli web-user list [--file FILE]\n"
    "\n"
    "Keeps the users of dorvik-agent's page: a viewer sees the doors and the swipes, an\n"
    "admin also changes the doors. add asks for the password twice without showing it\n"
    "when run at a terminal; otherwise it reads one line from standard input, for\n"
    "scripts. Adding a user who is already there gives a new password and role. The\n"
    "file is replaced whole, readable by its owner and group only (group dorvik for a\n"
    "new file); the agent reads it again at the next sign-in.\n"
    "\n"
    "  --role ROLE  viewer or admin\n"
    "  --file FILE  the users file (default /etc/dorvik/web-users)\n";

constexpr int ShortestPassword = 8;

std::vector<TWebUser> Existing(const QString& FileName)
{
    return QFileInfo::exists(FileName) ? LoadWebUsers(FileName) : std::vector<TWebUser>{};
}

QString CheckedName(const TArguments& Given)
{
    const QString Name = Given.Positional(1);
    if (Name.isEmpty())
        throw EUsage("missing NAME");
    if (!ValidUserName(Name))
        throw EUsage(Format("'%s' is not a user name: letters, digits, '.', '_', '-' and '@', up to 64",
                            Name.toUtf8().constData()));
    return Name;
}

int Add(const TArguments& Given, const QString& FileName)
{
    const QString Name = CheckedName(Given);
    const std::optional<TWebRole> Role = RoleNamed(Given.Required(QStringLiteral("role")));
    if (!Role)
        throw EUsage(Format("unknown role '%s': use viewer or admin", Given.Value(QStringLiteral("role")).toUtf8().constData()));
    std::vector<TWebUser> Users = Existing(FileName);
    const QByteArray Password = ReadNewPassword(Name);
    if (Password.size() < ShortestPassword)
        throw Exception(Format("a password takes at least %d characters", ShortestPassword));
    const TWebUser User{Name, *Role, HashPassword(Password)};
    const auto Found = std::find_if(Users.begin(), Users.end(), [&](const TWebUser& U) { return U.Name == Name; });
    const bool Replaced = Found != Users.end();
    if (Replaced)
        *Found = User;
    else
        Users.push_back(User);
    SaveWebUsers(FileName, Users);
    Print(QStringLiteral("%1 %2 (%3) in %4.\n").arg(Replaced ? QStringLiteral("Changed") : QStringLiteral("Added"), Name, RoleName(*Role), FileName));
    return 0;
}

int Remove(const TArguments& Given, const QString& FileName)
{
    const QString Name = CheckedName(Given);
    std::vector<TWebUser> Users = LoadWebUsers(FileName);
    if (std::erase_if(Users, [&](const TWebUser& U) { return U.Name == Name; }) == 0)
        throw Exception(Format("%s has no user %s", FileName.toUtf8().constData(), Name.toUtf8().constData()));
    SaveWebUsers(FileName, Users);
    Print(QStringLiteral("Removed %1 from %2.\n").arg(Name, FileName));
    return 0;
}

int List(const QString& FileName)
{
    for (const TWebUser& U : Existing(FileName))
        Print(QStringLiteral("%1\t%2\n").arg(U.Name, RoleName(U.Role)));
    return 0;
}

} // namespace

int RunWebUser(const QStringList& Args)
{
    const TArguments Given(QStringLiteral("web-user"), Args,
                           {{{QStringLiteral("role")}, QStringLiteral("ROLE")}, {{QStringLiteral("file")}, QStringLiteral("FILE")}},
                           {QStringLiteral("add|remove|list"), QStringLiteral("NAME")}, 1);
    if (Given.Help()) {
        Print(QString::fromUtf8(WebUserHelp));
        return 0;
    }
    const QString FileName = Given.IsSet(QStringLiteral("file")) ? Given.Value(QStringLiteral("file")) : QStringLiteral("/etc/dorvik/web-users");
    const QString Action = Given.Positional(0);
    if (Action != u"add" && Given.IsSet(QStringLiteral("role")))
        throw EUsage("only add takes --role");
    if (Action == u"add")
        return Add(Given, FileName);
    if (Action == u"remove")
        return Remove(Given, FileName);
    if (Action == u"list") {
        if (!Given.Positional(1).isEmpty())
            throw EUsage("list takes no NAME");
        return List(FileName);
    }
    throw EUsage(Format("unknown action '%s': use add, remove or list", Action.toUtf8().constData()));
}
