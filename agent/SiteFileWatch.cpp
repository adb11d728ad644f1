#include "agent/SiteFileWatch.h"

#include <QFileInfo>

namespace {
constexpr int SettleMs = 300;
}

TSiteFileWatch::TSiteFileWatch(const QString& Path, std::function<void()> Changed, QObject* Owner)
    : QObject(Owner), FPath(QFileInfo(Path).absoluteFilePath()), FChanged(std::move(Changed))
{
    FSettle.setSingleShot(true);
    connect(&FSettle, &QTimer::timeout, this, [this] {
        Follow();
        if (QFileInfo::exists(FPath))
            FChanged();
    });
    const auto Touched = [this] {
        Follow();
        FSettle.start(SettleMs);
    };
    connect(&FWatcher, &QFileSystemWatcher::fileChanged, this, Touched);
    connect(&FWatcher, &QFileSystemWatcher::directoryChanged, this, Touched);
    FWatcher.addPath(QFileInfo(FPath).absolutePath());
    Follow();
}

// A replaced file is a new one: the watch on the old one ended with it.
void TSiteFileWatch::Follow()
{
    if (QFileInfo::exists(FPath) && !FWatcher.files().contains(FPath))
        FWatcher.addPath(FPath);
}
