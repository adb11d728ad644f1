#include "ui/SwipeRecorder.h"

#include "log/AccessLog.h"

TSwipeRecorder::TSwipeRecorder(QObject* Owner) : QObject(Owner) {}

TSwipeRecorder::~TSwipeRecorder() = default;

TAccessLog& TSwipeRecorder::Log()
{
    if (!FLog) {
        FLog = std::make_unique<TAccessLog>(TAccessLog::DefaultPath(), TAccessLog::TUse::Record);
        connect(FLog.get(), &TAccessLog::Changed, this, [this] { Settle(); });
        connect(FLog.get(), &TAccessLog::Committed, this, [this] {
            if (OnCommitted)
                OnCommitted();
        });
    }
    return *FLog;
}

void TSwipeRecorder::Record(const TSwipeRecord& Swipe) { Log().Record(Swipe); }

TLogClosing TSwipeRecorder::Close() { return FLog ? FLog->Close() : TLogClosing{}; }

void TSwipeRecorder::Settle()
{
    const QString Now = FLog->Error();
    if (Now.isEmpty())
        FTold = false;
    else if (!FTold && OnTrouble) {
        FTold = true;
        OnTrouble(Now);
    }
    if (OnChange)
        OnChange();
}
