#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>

// SIGHUP, SIGTERM and SIGINT as events of the Qt loop, read from a signalfd. Block them first,
// before any thread starts (BlockSignals), so no thread takes them the old way.
class TSignalWatch : public QObject
{
public:
    static void BlockSignals();

    explicit TSignalWatch(QObject* Owner = nullptr); // raises Exception when it cannot
    ~TSignalWatch() override;

    std::function<void()> OnReload; // SIGHUP
    std::function<void()> OnStop;   // SIGTERM, SIGINT

private:
    void Arrived();

    int FHandle = -1;
    std::unique_ptr<QSocketNotifier> FNotifier;
};
