#pragma once

#include "web/WebUsers.h"

#include <QString>

#include <optional>
#include <vector>

// Reads the users file; raises Exception when it cannot be read, is no plain file, or may be
// read by others than its owner and its group (the hashes would be open to guessing).
std::vector<TWebUser> LoadWebUsers(const QString& FileName);

// Replaces the file whole (a reader sees the old file or the new one) with mode 0640. It keeps
// the owner and group of the file it replaces; a new file goes to group dorvik where that group
// exists, so that the agent may read it. Raises Exception saying what failed.
void SaveWebUsers(const QString& FileName, const std::vector<TWebUser>& Users);

// The users file as the server follows it: read again whenever it changed on disk, so that a
// user added, removed or given a new password counts from the next request on.
class TWebUsersFile
{
public:
    explicit TWebUsersFile(const QString& FileName) : FFileName(FileName) {}

    std::optional<TWebUser> Find(const QString& Name);
    // Why no one can sign in, naming the file; empty while the file is in use.
    QString Problem();

private:
    void Refresh();

    QString FFileName;
    QByteArray FStamp; // inode, size and change times last read; empty before
    std::vector<TWebUser> FUsers;
    QString FProblem;
};
