#include "agent/SiteFileWatch.h"

#include <QCryptographicHash>
#include <QFile>
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
        // Anything else in the folder changes it too: only new content counts.
        const QByteArray Now = Fingerprint();
        if (!Now.isEmpty() && Now != FLast) {
            FLast = Now;
            FChanged();
        }
    });
    const auto Touched = [this] {
        Follow();
        FSettle.start(SettleMs);
    };
    connect(&FWatcher, &QFileSystemWatcher::fileChanged, this, Touched);
    connect(&FWatcher, &QFileSystemWatcher::directoryChanged, this, Touched);
    FWatcher.addPath(QFileInfo(FPath).absolutePath());
    Follow();
    FLast = Fingerprint();
}

QByteArray TSiteFileWatch::Fingerprint() const
{
    QFile File(FPath);
    return File.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(File.readAll(), QCryptographicHash::Sha256) : QByteArray();
}

// A replaced file is a new one: the watch on the old one ended with it.
void TSiteFileWatch::Follow()
{
    if (QFileInfo::exists(FPath) && !FWatcher.files().contains(FPath))
        FWatcher.addPath(FPath);
}
