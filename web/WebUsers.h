#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

enum class TWebRole { Viewer, Admin };

QString RoleName(TWebRole Role); // "viewer", "admin"
std::optional<TWebRole> RoleNamed(const QString& Name);

struct TWebUser
{
    QString Name;
    TWebRole Role = TWebRole::Viewer;
    QByteArray Hash; // as crypt(3) gives it

    bool operator==(const TWebUser&) const = default;
};

// A user's name: letters, digits, '.', '_', '-', '@', 1 to 64 of them.
bool ValidUserName(const QString& Name);

// The users file: one line per user, "name:role:hash" (the hash as /etc/shadow keeps it); empty
// lines and lines starting with '#' are skipped. Raises Exception naming the file and the line.
std::vector<TWebUser> ParseWebUsers(const QString& FileName, const QByteArray& Text);
QByteArray WebUsersText(const std::vector<TWebUser>& Users);
