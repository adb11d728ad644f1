#pragma once

#include <QByteArray>
#include <QString>

// Who may read a log: a person's own log is theirs alone (folder 0700, files 0600); the agent's
// is also its group's (0750, 0640), so that the group's members can read who came in.
enum class TLogSharing { Private, Group };

// Makes the log's folder and an empty file with Sharing's modes, whatever the umask, before
// SQLite opens it (SQLite makes its -wal and -shm files with the database's mode). A person's own
// log at its default place that an older program made open to all is closed again. Returns what
// went wrong, empty when all is well.
QString PrepareLogFile(const QString& Path, TLogSharing Sharing, bool OwnDefault);

// The side file beside the log where swipes wait that could not be written when a program ended.
QString PendingFilePath(const QString& LogPath);

// The side file opened and locked against every other program for as long as this lives: one
// program at a time appends to it or takes it in.
class TPendingFileLock
{
public:
    // Create: make it (with Sharing's file mode) when it is not there.
    TPendingFileLock(const QString& LogPath, bool Create, TLogSharing Sharing = TLogSharing::Private);
    ~TPendingFileLock();
    TPendingFileLock(const TPendingFileLock&) = delete;
    TPendingFileLock& operator=(const TPendingFileLock&) = delete;

    bool Held() const { return FHandle >= 0; }
    // Why it is not held; empty when the file is simply not there.
    const QString& Problem() const { return FProblem; }

    QByteArray ReadAll();
    // Appends Text and waits until it is on the disk, the folder's entry too.
    bool Append(const QByteArray& Text);
    // Removes the file (it was taken in).
    void Remove();

private:
    QString FPath;
    int FHandle = -1;
    QString FProblem;
};
