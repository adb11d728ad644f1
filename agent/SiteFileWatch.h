#pragma once

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

// Follows one file, also when it is replaced (a save that writes a new file and renames it over
// the old one): the folder is watched too, and the file taken up again once it is back. New
// content is reported only once it is stable: the same at two looks a while apart after the
// last change, so a file still being written in place (a list cut at a record boundary reads as
// a shorter valid one) is not taken.
class TSiteFileWatch : public QObject
{
public:
    // Changed gets the new content; none when the file cannot be read.
    using TChanged = std::function<void(const std::optional<QByteArray>& Content)>;
    TSiteFileWatch(const QString& Path, TChanged Changed, QObject* Owner = nullptr);

    // What the file held when last reported (or when the watch began).
    const std::optional<QByteArray>& Content() const { return FLast; }

private:
    void Follow();
    void Look();
    std::optional<QByteArray> Read() const;

    QString FPath;
    TChanged FChanged;
    QFileSystemWatcher FWatcher;
    QTimer FSettle;
    std::optional<QByteArray> FLast;
    std::optional<std::optional<QByteArray>> FCandidate; // seen once, to be seen again
};
