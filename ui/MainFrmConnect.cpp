#include "ui/MainFrm.h"

#include "reader/Dorvik.h"
#include "ui/ActivityFrm.h"
#include "ui/ConnectFailure.h"
#include "ui/ConnectionDlg.h"
#include "ui/MessageBoxes.h"

// Connecting, and what the window does when the connection comes and goes.

void TMainForm::actConnectExecute()
{
    TConnectionDialog Dialog(this);
    if (Dialog.exec() != QDialog::Accepted)
        return;
    ConnectTo(Dialog.Port());
}

void TMainForm::ConnectTo(const QString& Port)
{
    struct TConnecting
    {
        bool& Flag;
        ~TConnecting() { Flag = false; }
    } Connecting{FConnecting = true};
    try {
        FCardReader->SetPort(Port);
        FCardReader->Connect();
    } catch (const std::exception& Error) {
        ShowError(this, ConnectFailureText(Error, Port));
    }
}

// The line may drop while a command's question is open; the user has been told so then, and
// the command has nothing to send to.
bool TMainForm::StillConnected() const { return FCardReader->Connected(); }

void TMainForm::CardReaderConnectionChange(QObject*)
{
    if (FCardReader->Connected())
        FCardReader->ReadDoorConfig();
    else if (!FClosing && !FConnecting) // a connect that fails half way says so itself
        ConnectionLost();
    if (FActivity && FActivity->isVisible())
        ShowActivityLog(); // an agent's door has its own log
    UpdateActions();
}

void TMainForm::ConnectionLost()
{
    // A transfer cut off by the loss is given up; a read puts the list back as it was.
    const bool WasTransferring = FCardReader->TransferActive();
    FCardReader->CancelTransfer();
    HideProgress();
    if (WasTransferring)
        RefreshCardList();
    UpdateActions();
    ShowErrorOnce(FConnectionBox, this,
                  QStringLiteral("The connection to the card reader was lost.\r\n\r\n"
                                 "Check that it is plugged in, then connect again."));
}
