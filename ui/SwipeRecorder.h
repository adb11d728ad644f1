#pragma once

#include "log/SwipeRecord.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QTimer;
class TAccessLog;

// Puts the swipes the window sees into the access log. The log is opened at the first need, so
// the window comes up without waiting for the disk. A log that cannot be written keeps the
// swipes (TAccessLog writes them later, and so does a retry here); what is wrong is told once
// for each spell of trouble, never once per swipe.
class TSwipeRecorder : public QObject
{
public:
    explicit TSwipeRecorder(QObject* Owner);
    ~TSwipeRecorder() override;

    // The log at TAccessLog::DefaultPath(), opened on the first call.
    TAccessLog& Log();

    void Record(TSwipeRecord Swipe);

    // A spell of trouble began: the log's message, said once until the log is well again.
    std::function<void(const QString& Text)> OnTrouble;
    // The log's message changed (empty: all is well).
    std::function<void()> OnChange;

private:
    void Settle(const QString& Before);

    std::unique_ptr<TAccessLog> FLog;
    QTimer* FRetry = nullptr; // owned as a child
    bool FTold = false;
};
