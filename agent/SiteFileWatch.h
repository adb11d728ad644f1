#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// Follows one file, also when it is replaced (a save that writes a new file and renames it over
// the old one): the folder is watched too, and the file taken up again once it is back. A burst
// of changes is reported once, after it has settled.
class TSiteFileWatch : public QObject
{
public:
    TSiteFileWatch(const QString& Path, std::function<void()> Changed, QObject* Owner = nullptr);

private:
    void Follow();
    QByteArray Fingerprint() const;

    QString FPath;
    std::function<void()> FChanged;
    QFileSystemWatcher FWatcher;
    QTimer FSettle;
    QByteArray FLast; // what the file held when last reported
};
