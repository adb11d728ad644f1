#include "ui/MainFrm.h"

#include "discovery/AgentDoors.h"
#include "log/AccessLog.h"
#include "reader/Dorvik.h"
#include "ui/ActivityFrm.h"
#include "ui/MessageBoxes.h"
#include "ui/SwipeRecorder.h"
#include "ui_MainFrm.h"

// The access log: every swipe the window sees is recorded before anything else is done with it,
// and Ctrl+L shows the log in the Activity window.

namespace {

// A door that dorvik-agent offers: the agent records its swipes, so the window must not again.
bool AgentDoorPort(const QString& Port) { return Port.startsWith(QStringLiteral("unix:")); }

// The log the agent records the door at Port in; the user's own when the agent does not say.
QString AgentLogPath(const QString& Port)
{
    for (const TAgentDoor& Door : AgentDoors())
        if (Door.SocketPort() == Port && !Door.Log.isEmpty())
            return Door.Log;
    return TAccessLog::DefaultPath();
}

} // namespace

void TMainForm::SetUpActivity()
{
    addAction(FUi->actActivity);
    connect(FUi->actActivity, &QAction::triggered, this, [this] { Run([this] { actActivityExecute(); }); });
    FRecorder = new TSwipeRecorder(this);
    FRecorder->OnTrouble = [this](const QString& Text) { ShowLogTrouble(Text); };
}

void TMainForm::actActivityExecute()
{
    if (!FActivity)
        FActivity = new TActivityForm(this);
    if (!FActivity->isVisible()) {
        // What happened while it was closed is read afresh.
        if (!ShowActivityLog())
            FActivity->Reload();
        FActivity->show();
    }
    FActivity->raise();
    FActivity->activateWindow();
}

bool TMainForm::ShowActivityLog()
{
    if (!FActivity)
        return false;
    const QString Port = FCardReader->Connected() ? FCardReader->Port() : QString();
    const QString Path = AgentDoorPort(Port) ? AgentLogPath(Port) : TAccessLog::DefaultPath();
    TAccessLog* Log = nullptr;
    if (Path == TAccessLog::DefaultPath()) {
        Log = &FRecorder->Log();
    } else if (FAgentLog && FAgentLog->Path() == Path) {
        Log = FAgentLog.get();
    } else {
        // The old log goes only once the window has let go of it.
        auto Fresh = std::make_unique<TAccessLog>(Path, TAccessLog::TUse::Read);
        FActivity->SetLog(Fresh.get());
        FAgentLog = std::move(Fresh);
        return true;
    }
    if (Log == FActivity->Log())
        return false;
    FActivity->SetLog(Log);
    if (Log != FAgentLog.get())
        FAgentLog.reset();
    return true;
}

void TMainForm::RecordSwipe(const TRfidTag& Tag)
{
    const QString Door = FCardReader->Port();
    if (!AgentDoorPort(Door))
        FRecorder->Record(MakeSwipeRecord(Tag, Door, &FCardReader->Tags())); // Activity shows it once committed
    else if (FActivity && FActivity->isVisible())
        FActivity->AwaitNewer();
}

// Swipes the log could not take yet go to its side file rather than being lost with the window.
void TMainForm::CloseLog()
{
    const TLogClosing Closing = FRecorder->Close();
    const QString Log = TAccessLog::DefaultPath();
    if (Closing.SetAside > 0)
        ShowInformation(this, QStringLiteral("%1 swipes could not be written to the access log %2. They wait in %3 "
                                             "and are written to the log the next time it is opened.")
                                  .arg(Closing.SetAside).arg(Log, PendingFilePath(Log)));
    if (Closing.Lost > 0)
        ShowError(this, QStringLiteral("%1 swipes could not be written to the access log %2, nor kept beside it: %3")
                            .arg(Closing.Lost).arg(Log, Closing.Problem));
}

// Said once, beside the windows rather than over them: the cards can still be managed.
void TMainForm::ShowLogTrouble(const QString& Text)
{
    if (FActivity)
        FActivity->UpdateStatus();
    ShowNotice(FLogNotice, this, QStringLiteral("Access log"), Text);
}
