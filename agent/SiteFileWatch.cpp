#include "agent/SiteFileWatch.h"

#include <QFile>
#include <QFileInfo>

namespace {
constexpr int SettleMs = 300;  // after the last change
constexpr int ConfirmMs = 1000; // between the two looks
} // namespace

TSiteFileWatch::TSiteFileWatch(const QString& Path, TChanged Changed, QObject* Owner)
    : QObject(Owner), FPath(QFileInfo(Path).absoluteFilePath()), FChanged(std::move(Changed))
{
    FSettle.setSingleShot(true);
    connect(&FSettle, &QTimer::timeout, this, [this] { Look(); });
    const auto Touched = [this] {
        Follow();
        FCandidate.reset();
        FSettle.start(SettleMs);
    };
    connect(&FWatcher, &QFileSystemWatcher::fileChanged, this, Touched);
    connect(&FWatcher, &QFileSystemWatcher::directoryChanged, this, Touched);
    FWatcher.addPath(QFileInfo(FPath).absolutePath());
    Follow();
    FLast = Read();
}

std::optional<QByteArray> TSiteFileWatch::Read() const
{
    QFile File(FPath);
    if (!File.open(QIODevice::ReadOnly))
        return std::nullopt;
    return File.readAll();
}

void TSiteFileWatch::Look()
{
    Follow();
    const std::optional<QByteArray> Now = Read();
    // Anything else in the folder changes it too: only new content counts.
    if (Now == FLast) {
        FCandidate.reset();
        return;
    }
    if (!FCandidate || *FCandidate != Now) {
        FCandidate = Now;
        FSettle.start(ConfirmMs);
        return;
    }
    FCandidate.reset();
    FLast = Now;
    FChanged(FLast);
}

// A replaced file is a new one: the watch on the old one ended with it.
void TSiteFileWatch::Follow()
{
    if (QFileInfo::exists(FPath) && !FWatcher.files().contains(FPath))
        FWatcher.addPath(FPath);
}
