#include "ui/MainFrm.h"

#include "common/Errors.h"
#include "log/AccessLog.h"
#include "reader/Dorvik.h"
#include "reader/Protocol.h"
#include "ui/ActivityFrm.h"
#include "ui/CardListModel.h"
#include "ui/DoorConfigDlg.h"
#include "ui/EnableRules.h"
#include "ui/MainFrmAccess.h"
#include "ui/MessageBoxes.h"
#include "ui/NameDlg.h"
#include "cards/NameText.h"
#include "ui/Pictures.h"
#include "ui/ProgressFrm.h"
#include "ui_MainFrm.h"

#include <QAbstractEventDispatcher>
#include <QActionGroup>
#include <QApplication>
#include <QScreen>
#include <QTimer>

TMainForm::TMainForm(QWidget* Parent)
    : QWidget(Parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      FUi(std::make_unique<Ui::TMainForm>())
{
    FUi->setupUi(this);
    FBaseTitle = windowTitle();
    FUi->imgLogo->setPixmap(Picture("logo", QSize(257, 59)));
    FCardReader = new TDorvik(this);
    AttachReaderEvents();
    SetUpCommands();
    SetUpActivity();
    SetUpCardList();
    SetUpMainFormAccess(*this);
    FSwipeDialogOpen = false;

    // The enable rules follow the program whenever the event loop is about to wait.
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this, [this] {
        if (isVisible() && isEnabled() && !QApplication::activeModalWidget())
            UpdateActions();
    });
    UpdateActions();
}

TMainForm::~TMainForm()
{
    FClosing = true;
    delete FActivity; // before the logs it shows

    try {
        FCardReader->Disconnect();
    } catch (const std::exception& Error) {
        ReportException(Error);
    }
    // The view shows no card from here on: the card list goes with the reader, and the view is
    // still laid out once more while the window comes down.
    FModel->SetRowCount(0);
    delete FCardReader;
    FCardReader = nullptr;
}

void TMainForm::SetProgressForm(TProgressForm* Form) { FProgressForm = Form; }

void TMainForm::AttachReaderEvents()
{
    FCardReader->OnConnect = [this](QObject* S) { CardReaderConnectionChange(S); };
    FCardReader->OnDisconnect = [this](QObject* S) { CardReaderConnectionChange(S); };
    FCardReader->OnTransferBegin = [this](QObject* S) { CardReaderTransferBegin(S); };
    FCardReader->OnTransferEnd = [this](QObject* S) { CardReaderTransferEnd(S); };
    FCardReader->OnCardSwipe = [this](QObject* S, TRfidTag& Tag) { CardReaderCardSwipe(S, Tag); };
    FCardReader->OnBeginUpdate = [this](QObject* S) { CardReaderBeginUpdate(S); };
    FCardReader->OnUpdateProgress = [this](QObject* S) { CardReaderUpdateProgress(S); };
    FCardReader->OnEndUpdate = [this](QObject* S) { CardReaderEndUpdate(S); };
    FCardReader->OnTransferStalled = [this](QObject* S) { CardReaderTransferStalled(S); };
}

void TMainForm::SetUpCommands()
{
    aclCommon = new QActionGroup(this);
    aclCommon->setObjectName("aclCommon");
    aclCommon->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
    const struct
    {
        QAction* Action;
        QToolButton* Button;
        const char* Glyph;
        void (TMainForm::*Execute)();
    } Commands[] = {
        {FUi->actConnect, FUi->btnConnect, "cmd-connect", &TMainForm::actConnectExecute},
        {FUi->actRead, FUi->btnRead, "cmd-read", &TMainForm::actReadExecute},
        {FUi->actWrite, FUi->btnWrite, "cmd-write", &TMainForm::actWriteExecute},
        {FUi->actEditName, FUi->sBitBtn1, "cmd-edit", &TMainForm::actEditNameExecute},
        {FUi->actSetMaster, FUi->btnSetMaster, "cmd-master", &TMainForm::actSetMasterExecute},
        {FUi->actLoadFromFile, FUi->btnLoadFromFile, "cmd-load", &TMainForm::actLoadFromFileExecute},
        {FUi->actSaveToFile, FUi->btnSaveToFile, "cmd-save", &TMainForm::actSaveToFileExecute},
        {FUi->actDelete, FUi->btnDelete, "cmd-delete", &TMainForm::actDeleteExecute},
        {FUi->actClear, FUi->btnClear, "cmd-clear", &TMainForm::actClearExecute},
        {FUi->actDoorConfig, FUi->btnDoorConfig, "cmd-door", &TMainForm::actDoorConfigExecute},
    };
    for (const auto& C : Commands) {
        aclCommon->addAction(C.Action);
        const QIcon Glyph = PictureIcon(C.Glyph, QSize(32, 32));
        C.Action->setIcon(Glyph);
        C.Button->setIcon(Glyph);
        // The button keeps its own caption and tooltip; it runs its action and is enabled
        // exactly when the action is.
        connect(C.Action, &QAction::triggered, this, [this, Execute = C.Execute] { Run([this, Execute] { (this->*Execute)(); }); });
        connect(C.Button, &QToolButton::clicked, C.Action, &QAction::trigger);
        connect(C.Action, &QAction::enabledChanged, C.Button, &QWidget::setEnabled);
        C.Button->setEnabled(C.Action->isEnabled());
    }
}

void TMainForm::showEvent(QShowEvent* Event)
{
    QWidget::showEvent(Event);
    if (FCentred)
        return;
    FCentred = true;
    FitOuterSize();
    // Some window managers report the frame only once the window is mapped: look again then.
    QTimer::singleShot(0, this, [this] { FitOuterSize(); });
    if (QScreen* Screen = screen()) {
        QRect Frame = frameGeometry();
        Frame.moveCenter(Screen->availableGeometry().center());
        move(Frame.topLeft());
    }
}

// The designed size is the outer size, frame included; the frame is known only once shown.
void TMainForm::FitOuterSize()
{
    const QSize Outer(733, 575);
    const QSize Frame = frameGeometry().size() - geometry().size();
    if (frameGeometry().size() != Outer && Frame.isValid())
        resize(Outer - Frame);
}

// Every command and list callback runs through here: nothing unwinds through the event loop.
void TMainForm::Run(const std::function<void()>& Handler)
{
    try {
        Handler();
    } catch (const std::exception& Error) {
        ReportException(Error);
    }
}

void TMainForm::UpdateActions()
{
    if (!FCardReader)
        return;
    ApplyEnableRules(*aclCommon, {.Connected = FCardReader->Connected(),
                                  .OneSelected = SelectedRow() >= 0,
                                  .HasCards = FCardReader->Tags().Count() > 0});
}

void TMainForm::ShowProgress()
{
    if (!FProgressForm)
        return;
    FProgressForm->show();
    FProgressForm->raise();
}

void TMainForm::HideProgress()
{
    if (FProgressForm)
        FProgressForm->hide();
}

// The user's command wins over a read that is still running: the read ends here, the list is
// back as it was before the read, and the command then acts on that list. Nothing of the read
// comes back over the command later, and the read says nothing more.
void TMainForm::EndReadForUserAction()
{
    if (!FCardReader->EndRead())
        return;
    if (!FCardReader->TransferActive())
        HideProgress();
    RefreshCardList();
}

void TMainForm::CardReaderTransferBegin(QObject*)
{
    FModel->SetRowCount(0);
    ShowProgress();
}

void TMainForm::CardReaderTransferEnd(QObject*)
{
    RefreshCardList();
    HideProgress();
    MarkSaved(TUnsavedChanges::TPart::Cards); // the list is the reader's now; names it carried over stay unsaved
}

void TMainForm::CardReaderBeginUpdate(QObject*) { ShowProgress(); }

void TMainForm::CardReaderUpdateProgress(QObject*) {}

void TMainForm::CardReaderEndUpdate(QObject*)
{
    HideProgress();
    MarkSaved(TUnsavedChanges::TPart::Cards);
    ShowInformation(this, QStringLiteral("Your card reader has been updated and is ready to use."));
}

void TMainForm::CardReaderTransferStalled(QObject*)
{
    HideProgress();
    RefreshCardList();
    ShowErrorOnce(FConnectionBox, this,
                  QStringLiteral("The card reader stopped answering, so the transfer was given up.\r\n\r\n"
                                 "Nothing on this computer was changed."));
}

void TMainForm::actReadExecute()
{
    if (AskOkCancel(this, QStringLiteral("Do you want to transfer the card reader's database to your computer?"
                                         "\r\n\r\nAny changes you made locally will be lost.")) &&
        StillConnected())
        FCardReader->ReadDatabase();
}

void TMainForm::actWriteExecute()
{
    const int Count = FCardReader->Tags().Count();
    if (Count > protocol::CardLimit) {
        ShowError(this, QString::fromStdString(Format("Too many cards (%d/%d). Please remove %d cards.", Count,
                                                      protocol::CardLimit, Count - protocol::CardLimit)));
        return;
    }
    if (AskOkCancel(this, QStringLiteral("Do you want to send this database to your card reader?"
                                         "\r\n\r\nAny cards already in the card reader will be overwritten.")) &&
        StillConnected()) {
        EndReadForUserAction(); // a read half done must not be sent
        FCardReader->WriteDatabase();
    }
}

void TMainForm::actEditNameExecute()
{
    const int Row = SelectedRow();
    if (Row < 0 || Row >= FCardReader->Tags().Count())
        return;
    TRfidTag Card = FCardReader->Tags().Items(Row);
    const QString Before = NameToText(Card.Name);
    TNameDialog Dialog(this);
    Dialog.SetCardName(Before);
    if (Dialog.exec() != QDialog::Accepted)
        return;
    EndReadForUserAction();
    const int Now = FindAgain(Row, Card);
    if (Now < 0)
        return;
    // A name confirmed unchanged keeps its bytes exactly.
    const QString After = Dialog.CardName();
    TRfidTag& Target = FCardReader->Tags().Items(Now);
    if (After != Before) {
        Target.Name = TextToName(After);
        MarkChanged(TUnsavedChanges::TPart::Names);
    }
    FModel->Repaint();
}

void TMainForm::actSetMasterExecute()
{
    const int Row = SelectedRow();
    if (Row < 0 || Row >= FCardReader->Tags().Count())
        return;
    const TRfidTag Card = FCardReader->Tags().Items(Row);
    if (!AskYesNo(this, QString::fromStdString(Format("Set %s as master card?", Card.CardNumber().toUtf8().constData()))))
        return;
    EndReadForUserAction();
    const int Now = FindAgain(Row, Card);
    if (Now < 0)
        return;
    FCardReader->SetMaster(uint32_t(Now));
    MarkChanged(TUnsavedChanges::TPart::Cards);
    FModel->Repaint();
}

void TMainForm::actDeleteExecute()
{
    const int Row = SelectedRow();
    if (Row < 0 || Row >= FCardReader->Tags().Count())
        return;
    const TRfidTag Card = FCardReader->Tags().Items(Row);
    if (!AskOkCancel(this, QStringLiteral("Remove the selected tag from the database?")))
        return;
    EndReadForUserAction();
    const int Now = FindAgain(Row, Card);
    if (Now < 0)
        return;
    FCardReader->Tags().Delete(Now);
    FModel->RemoveRow(Now);
    // The master mark stays on its card when a card above it goes.
    if (uint32_t(Now) < FCardReader->Master())
        FCardReader->SetMaster(FCardReader->Master() - 1);
    // Nothing is picked for the next Delete but what the user picks.
    FUi->lstCards->clearSelection();
    MarkChanged(TUnsavedChanges::TPart::Cards);
    FModel->Repaint();
}

void TMainForm::actClearExecute()
{
    if (!AskOkCancel(this, QStringLiteral("Remove all cards from the database?")))
        return;
    EndReadForUserAction();
    FModel->SetRowCount(0);
    FCardReader->Tags().Clear();
    MarkChanged(TUnsavedChanges::TPart::Cards);
}

void TMainForm::actDoorConfigExecute()
{
    TDoorConfigDialog Dialog(this);
    Dialog.SetMode(FCardReader->DoorMode());
    Dialog.SetDelay(FCardReader->DoorDelay());
    if (Dialog.exec() != QDialog::Accepted || !StillConnected())
        return;
    FCardReader->WriteDoorConfig(Dialog.Mode(), uint8_t(Dialog.Delay()));
    // The settings change only when the reader reports them: ask, so the dialog shows them next.
    FCardReader->ReadDoorConfig();
}
