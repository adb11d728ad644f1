#pragma once

#include "log/LogWriter.h"
#include "log/SwipeRecord.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class TAccessLog;

// Puts the swipes the window sees into the access log, which writes them on a thread of its own:
// the window never waits for the disk or for a lock another program holds. The log is opened at
// the first need, so the window comes up without waiting for it. What is wrong is told once for
// each spell of trouble, never once per swipe.
class TSwipeRecorder : public QObject
{
public:
    explicit TSwipeRecorder(QObject* Owner);
    ~TSwipeRecorder() override;

    // The log at TAccessLog::DefaultPath(), opened on the first call.
    TAccessLog& Log();

    void Record(const TSwipeRecord& Swipe);
    // Ends the log's writer: swipes it could not take go to its side file. None when the log was
    // never opened.
    TLogClosing Close();

    // A spell of trouble began: the log's message, said once until the log is well again.
    std::function<void(const QString& Text)> OnTrouble;
    // The log's message changed (empty: all is well), or it can be read now.
    std::function<void()> OnChange;
    // Swipes are in the file now.
    std::function<void()> OnCommitted;

private:
    void Settle();

    std::unique_ptr<TAccessLog> FLog;
    bool FTold = false;
};
