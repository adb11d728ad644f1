#include "ui/SwipeRecorder.h"

#include "log/AccessLog.h"

#include <QTimer>

namespace {

// Swipes may stop coming while the log is in trouble; they are not left in memory for that.
constexpr int RetryMs = 30000;

} // namespace

TSwipeRecorder::TSwipeRecorder(QObject* Owner) : QObject(Owner), FRetry(new QTimer(this))
{
    FRetry->setInterval(RetryMs);
    connect(FRetry, &QTimer::timeout, this, [this] {
        const QString Before = Log().Error();
        Log().Flush();
        Settle(Before);
    });
}

TSwipeRecorder::~TSwipeRecorder() = default;

TAccessLog& TSwipeRecorder::Log()
{
    if (!FLog)
        FLog = std::make_unique<TAccessLog>(TAccessLog::DefaultPath());
    return *FLog;
}

void TSwipeRecorder::Record(TSwipeRecord Swipe)
{
    const QString Before = FLog ? FLog->Error() : QString();
    Log().Record(Swipe);
    Settle(Before);
}

void TSwipeRecorder::Settle(const QString& Before)
{
    const QString Now = FLog->Error();
    if (FLog->Pending() > 0)
        FRetry->start();
    else
        FRetry->stop();
    if (Now.isEmpty())
        FTold = false;
    else if (!FTold && OnTrouble) {
        FTold = true;
        OnTrouble(Now);
    }
    if (Now != Before && OnChange)
        OnChange();
}
