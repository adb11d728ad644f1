#pragma once

#include "cards/RfidTags.h"
#include "ui/UnsavedChanges.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

namespace Ui {
class TMainForm;
}
class QAction;
class QActionGroup;
class QMessageBox;
class TAccessLog;
class TActivityForm;
class TCardListModel;
class TDorvik;
class TProgressForm;
class TSwipeRecorder;

// The program's one main window: the card list and the ten commands, and what the user sees of
// the reader component's events.
class TMainForm : public QWidget
{
    Q_OBJECT

public:
    explicit TMainForm(QWidget* Parent = nullptr);
    ~TMainForm() override;

    TDorvik* CardReader() const { return FCardReader; }

    // The one progress window of the program, made at start-up after this window.
    void SetProgressForm(TProgressForm* Form);

    // The enable rules of the ten commands.
    void UpdateActions();

    // Empties the view and shows one row per card, none selected, in one repaint.
    void RefreshCardList();

    QActionGroup* aclCommon = nullptr;

    // Connects as the dialog's OK does; a failure is shown, not thrown.
    void ConnectTo(const QString& Port);

protected:
    void showEvent(QShowEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private slots:
    void actConnectExecute();
    void actReadExecute();
    void actWriteExecute();
    void actEditNameExecute();
    void actSetMasterExecute();
    void actLoadFromFileExecute();
    void actSaveToFileExecute();
    void actDeleteExecute();
    void actClearExecute();
    void actDoorConfigExecute();
    void actActivityExecute();

private:
    void AttachReaderEvents();
    void SetUpCommands();
    void SetUpCardList();
    void Run(const std::function<void()>& Handler);

    void CardReaderConnectionChange(QObject* Sender);
    void CardReaderTransferBegin(QObject* Sender);
    void CardReaderTransferEnd(QObject* Sender);
    void CardReaderCardSwipe(QObject* Sender, TRfidTag& Tag);
    void SetUpActivity();
    void RecordSwipe(const TRfidTag& Tag);
    // Shows in Activity the log of the door connected to; true when that is another log than before.
    bool ShowActivityLog();
    void ShowLogTrouble(const QString& Text);
    void CloseLog();
    void ShowSwipedCard(const TRfidTag& Tag);
    void OfferSwipedCard(const TRfidTag& Tag);
    void CardReaderBeginUpdate(QObject* Sender);
    void CardReaderUpdateProgress(QObject* Sender);
    void CardReaderEndUpdate(QObject* Sender);
    void CardReaderTransferStalled(QObject* Sender);
    void ConnectionLost();
    void EndReadForUserAction();
    bool StillConnected() const;
    bool SaveToFile();

    // Each also marks the window's title while changes are unsaved.
    void MarkChanged(TUnsavedChanges::TPart What);
    void MarkSaved(TUnsavedChanges::TPart What);
    bool MayDropChanges();

    int SelectedRow() const;
    void SelectRow(int Row);
    // The row that holds Card now: Row itself if it still does, else the card found by identity.
    int FindAgain(int Row, const TRfidTag& Card) const;
    void ShowProgress();
    void HideProgress();
    void FitNameColumn(int ViewWidth);
    void FitOuterSize();

    std::unique_ptr<Ui::TMainForm> FUi;
    TDorvik* FCardReader = nullptr; // owned as a child
    TCardListModel* FModel = nullptr;
    QPointer<TProgressForm> FProgressForm;
    bool FSwipeDialogOpen = false;
    bool FClosing = false;
    bool FConnecting = false;
    QPointer<QMessageBox> FConnectionBox; // at most one box about the connection at a time
    bool FCentred = false;
    QString FBaseTitle;
    QString FFileName; // the file last saved or loaded
    TUnsavedChanges FChanges;
    TSwipeRecorder* FRecorder = nullptr;         // owned as a child
    std::unique_ptr<TAccessLog> FAgentLog;       // the log of the agent's door shown in Activity
    QPointer<TActivityForm> FActivity;           // made at the first Ctrl+L, owned as a child
    QPointer<QMessageBox> FLogNotice;
};
