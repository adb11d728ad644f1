#include "ui/MainFrm.h"

#include "common/Errors.h"
#include "reader/Dorvik.h"
#include "reader/Protocol.h"
#include "ui/CardFileDialog.h"
#include "ui/CardListModel.h"
#include "ui/CardSwipeFrm.h"
#include "ui/ConnectFailure.h"
#include "ui/ConnectionDlg.h"
#include "ui/DoorConfigDlg.h"
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
#include <QDir>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>

namespace {

const char CardDatabaseFilter[] = "Dorvik Card Database (*.tdb)|*.tdb|All files (*.*)|*.*";

// "Label|pattern|Label|pattern" as the file dialog's name filters. Qt reads the patterns from
// the label's parentheses; "*.*" means every file here, not only names with a dot.
QStringList NameFilters(const QString& Pairs)
{
    const QStringList Parts = Pairs.split('|');
    QStringList Filters;
    for (int I = 0; I + 1 < Parts.size(); I += 2) {
        QString Label = Parts[I];
        const QString Pattern = Parts[I + 1] == "*.*" ? QStringLiteral("*") : Parts[I + 1];
        Label.replace("(" + Parts[I + 1] + ")", "(" + Pattern + ")");
        Filters << Label;
    }
    return Filters;
}

} // namespace

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

void TMainForm::SetProgressForm(TProgressForm* Form) { ProgressForm = Form; }

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

void TMainForm::SetUpCardList()
{
    FModel = new TCardListModel(FCardReader->Tags(), [this] { return FCardReader->Master(); }, this);
    QTreeView* List = FUi->lstCards;
    List->setModel(FModel);
    QHeaderView* Header = List->header();
    Header->setSectionsMovable(true);
    Header->setSectionsClickable(false);
    Header->setStretchLastSection(false);
    Header->setSectionResizeMode(QHeaderView::Interactive);
    const int Widths[] = {60, 150, 275, 50};
    for (int Column = 0; Column < TCardListModel::ColumnCount; ++Column)
        Header->resizeSection(Column, Widths[Column]);
    List->viewport()->installEventFilter(this);
}

bool TMainForm::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Watched == FUi->lstCards->viewport()) {
        if (Event->type() == QEvent::Resize) {
            FitNameColumn(static_cast<QResizeEvent*>(Event)->size().width());
        } else if (Event->type() == QEvent::MouseButtonDblClick) {
            // A double click anywhere on the list edits the selected card, if there is one.
            if (static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton) {
                QTimer::singleShot(0, this, [this] { Run([this] { actEditNameExecute(); }); });
                return true;
            }
        } else if (Event->type() == QEvent::MouseButtonPress) {
            const auto* Press = static_cast<QMouseEvent*>(Event);
            if (Press->button() == Qt::RightButton) {
                const QModelIndex At = FUi->lstCards->indexAt(Press->position().toPoint());
                if (At.isValid())
                    SelectRow(At.row());
                return true;
            }
        }
    }
    return QWidget::eventFilter(Watched, Event);
}

// "Name" takes whatever width the other columns leave, so the columns fill the view.
void TMainForm::FitNameColumn(int ViewWidth)
{
    QHeaderView* Header = FUi->lstCards->header();
    int Others = 0;
    for (int Column = 0; Column < TCardListModel::ColumnCount; ++Column) {
        if (Column != TCardListModel::colName)
            Others += Header->sectionSize(Column);
    }
    Header->resizeSection(TCardListModel::colName, std::max(Header->minimumSectionSize(), ViewWidth - Others));
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

// ---- enable rules and the view

void TMainForm::UpdateActions()
{
    if (!FCardReader)
        return;
    const bool Connected = FCardReader->Connected();
    const bool OneSelected = SelectedRow() >= 0;
    FUi->actConnect->setEnabled(!Connected);
    FUi->actRead->setEnabled(Connected);
    FUi->actWrite->setEnabled(Connected);
    FUi->actDoorConfig->setEnabled(Connected);
    FUi->actDelete->setEnabled(OneSelected);
    FUi->actSetMaster->setEnabled(OneSelected);
    FUi->actEditName->setEnabled(OneSelected);
    FUi->actClear->setEnabled(FCardReader->Tags().Count() > 0);
    FUi->actSaveToFile->setEnabled(true);
    FUi->actLoadFromFile->setEnabled(true);
}

void TMainForm::RefreshCardList()
{
    QTreeView* List = FUi->lstCards;
    FModel->SetRowCount(0);
    List->setUpdatesEnabled(false);
    FModel->SetRowCount(FCardReader->Tags().Count());
    List->setUpdatesEnabled(true);
    List->clearSelection();
}

int TMainForm::SelectedRow() const
{
    const QModelIndexList Rows = FUi->lstCards->selectionModel()->selectedRows();
    return Rows.size() == 1 ? Rows.first().row() : -1;
}

void TMainForm::SelectRow(int Row)
{
    const QModelIndex Index = FModel->index(Row, 0);
    FUi->lstCards->selectionModel()->select(Index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    FUi->lstCards->selectionModel()->setCurrentIndex(Index, QItemSelectionModel::NoUpdate);
}

int TMainForm::FindAgain(int Row, const TRfidTag& Card) const
{
    const TRfidTags& Tags = FCardReader->Tags();
    if (Row >= 0 && Row < Tags.Count() && CompareTags(Tags.Items(Row), Card) == 0 &&
        Row < FModel->rowCount())
        return Row;
    const int Found = Tags.IndexOf(Card);
    return Found < FModel->rowCount() ? Found : -1;
}

void TMainForm::ShowProgress()
{
    if (!ProgressForm)
        return;
    ProgressForm->show();
    ProgressForm->raise();
}

void TMainForm::HideProgress()
{
    if (ProgressForm)
        ProgressForm->hide();
}

// ---- reader events

void TMainForm::CardReaderConnectionChange(QObject*)
{
    if (FCardReader->Connected())
        FCardReader->ReadDoorConfig();
    else if (!FClosing && !FConnecting) // a connect that fails half way says so itself
        ConnectionLost();
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

// The user's command wins over a read that is still running: the read ends here, the list is
// back as it was before the read, and the command then acts on that list. Nothing of the read
// comes back over the command later, and the read says nothing more.
void TMainForm::EndReadForUserAction()
{
    if (!FCardReader->ReadActive())
        return;
    FCardReader->CancelTransfer();
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
    MarkSaved(TChange::Cards); // the list is the reader's now; names it carried over stay unsaved
}

void TMainForm::CardReaderBeginUpdate(QObject*) { ShowProgress(); }

void TMainForm::CardReaderUpdateProgress(QObject*) {}

void TMainForm::CardReaderEndUpdate(QObject*)
{
    HideProgress();
    MarkSaved(TChange::Cards);
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

void TMainForm::CardReaderCardSwipe(QObject*, TRfidTag& Tag)
{
    if (FSwipeDialogOpen)
        return;
    TRfidTags& Tags = FCardReader->Tags();
    // A card that a running read set aside is known: the read brings it back with its name.
    if (FCardReader->SetAsideHolds(Tag) && Tags.IndexOf(Tag) < 0)
        return;
    if (Tags.IndexOf(Tag) >= 0) {
        QTreeView* List = FUi->lstCards;
        List->clearSelection();
        for (int Row = 0; Row < FModel->rowCount() && Row < Tags.Count(); ++Row) {
            if (CompareTags(Tags.Items(Row), Tag) == 0) {
                SelectRow(Row);
                List->scrollTo(FModel->index(Row, 0), QAbstractItemView::PositionAtCenter);
            }
        }
        return;
    }
    FSwipeDialogOpen = true;
    if (Tags.Count() >= Tags.Limit) {
        FSwipeDialogOpen = false;
        return;
    }
    // The guard comes down on every way out, failures included.
    struct TGuard
    {
        bool& Flag;
        ~TGuard() { Flag = false; }
    } Guard{FSwipeDialogOpen};
    TCardSwipeForm Form(this);
    Form.SetTag(Tag);
    if (Form.exec() != QDialog::Accepted)
        return;
    EndReadForUserAction();
    const int Listed = Tags.IndexOf(Form.Tag());
    if (Listed >= 0) {
        SelectRow(Listed); // back with the list a read had set aside, name and all
    } else if (Tags.Count() < Tags.Limit) {
        Tags.Add().AssignBytes(Form.Tag());
        RefreshCardList();
        MarkChanged(TChange::Cards);
    } else {
        ShowError(this, QStringLiteral("Your card reader is full (limit reached)."));
    }
}

// ---- commands

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
        MarkChanged(TChange::Names);
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
    MarkChanged(TChange::Cards);
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
    MarkChanged(TChange::Cards);
    FModel->Repaint();
}

void TMainForm::actClearExecute()
{
    if (!AskOkCancel(this, QStringLiteral("Remove all cards from the database?")))
        return;
    EndReadForUserAction();
    FModel->SetRowCount(0);
    FCardReader->Tags().Clear();
    MarkChanged(TChange::Cards);
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

std::unique_ptr<QFileDialog> TMainForm::CardDatabaseDialog(const QString& Title)
{
    auto Dialog = std::make_unique<TCardFileDialog>(this, Title, QDir::currentPath());
    Dialog->setObjectName(QStringLiteral("dlgCardDatabase"));
    Dialog->setOption(QFileDialog::DontUseNativeDialog);
    Dialog->setNameFilters(NameFilters(CardDatabaseFilter));
    Dialog->selectNameFilter(Dialog->nameFilters().first());
    Dialog->setDefaultSuffix(QStringLiteral("tdb"));
    return Dialog;
}

void TMainForm::actSaveToFileExecute() { SaveToFile(); }

// The Save command; true when the file was written. A failed save is not caught here: the
// general error report shows it.
bool TMainForm::SaveToFile()
{
    auto Dialog = CardDatabaseDialog(QStringLiteral("Save card database to file"));
    Dialog->setAcceptMode(QFileDialog::AcceptSave);
    Dialog->setFileMode(QFileDialog::AnyFile);
    if (Dialog->exec() != QDialog::Accepted || Dialog->selectedFiles().isEmpty())
        return false;
    const QString FileName = Dialog->selectedFiles().first();
    FCardReader->SaveToFile(FileName);
    FFileName = FileName;
    MarkSaved(TChange::Everything);
    ShowInformation(this, QString::fromStdString(
                              Format("Succesfully saved %d cards to file.", FCardReader->Tags().Count())));
    return true;
}

void TMainForm::actLoadFromFileExecute()
{
    if (!MayDropChanges())
        return;
    auto Dialog = CardDatabaseDialog(QStringLiteral("Load card database from file"));
    Dialog->setAcceptMode(QFileDialog::AcceptOpen);
    Dialog->setFileMode(QFileDialog::ExistingFile);
    if (Dialog->exec() != QDialog::Accepted || Dialog->selectedFiles().isEmpty())
        return;
    const QString FileName = Dialog->selectedFiles().first();
    try {
        EndReadForUserAction();
        FCardReader->LoadFromFile(FileName);
        RefreshCardList();
        FFileName = FileName;
        MarkSaved(TChange::Everything);
        ShowInformation(this, QString::fromStdString(
                                  Format("Succesfully loaded %d cards from file.", FCardReader->Tags().Count())));
    } catch (const std::exception& Error) {
        ShowError(this, QString::fromUtf8(Error.what()));
    }
}

// ---- unsaved changes

void TMainForm::MarkChanged(TChange What)
{
    (What == TChange::Names ? FNamesUnsaved : FCardsUnsaved) = true;
    UpdateTitle();
}

void TMainForm::MarkSaved(TChange What)
{
    if (What != TChange::Names)
        FCardsUnsaved = false;
    if (What != TChange::Cards)
        FNamesUnsaved = false;
    UpdateTitle();
}

bool TMainForm::HasUnsavedChanges() const { return FNamesUnsaved || FCardsUnsaved; }

void TMainForm::UpdateTitle()
{
    QString Title = FBaseTitle;
    if (!FFileName.isEmpty())
        Title = QFileInfo(FFileName).fileName() + QStringLiteral(" - ") + Title;
    if (HasUnsavedChanges())
        Title.prepend(QLatin1Char('*'));
    setWindowTitle(Title);
}

// Asks before unsaved changes go; true when they may (saved, or the user lets them go).
bool TMainForm::MayDropChanges()
{
    if (!HasUnsavedChanges())
        return true;
    switch (AskSaveChanges(this)) {
    case TSaveChoice::Save:
        try {
            return SaveToFile();
        } catch (const std::exception& Error) {
            ReportException(Error);
            return false;
        }
    case TSaveChoice::Discard:
        return true;
    case TSaveChoice::Cancel:
        break;
    }
    return false;
}

void TMainForm::closeEvent(QCloseEvent* Event)
{
    if (MayDropChanges())
        Event->accept();
    else
        Event->ignore();
}
