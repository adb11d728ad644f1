#pragma once

#include <QString>
#include <QWidget>

#include <memory>

namespace Ui {
class TActivityForm;
}
class QKeyEvent;
class QTimer;
class TAccessLog;
class TActivityModel;

// "Activity": who came in, and when. The swipes of an access log, newest first, searched by card
// or name as the user types, and written to a CSV file with Export. A window of its own beside
// the main window, which it never blocks; Escape closes it.
class TActivityForm : public QWidget
{
    Q_OBJECT

public:
    explicit TActivityForm(QWidget* Owner);
    ~TActivityForm() override;

    // Shows Log's swipes from the newest on (null: none), under the search typed so far. The log
    // must outlive its use here.
    void SetLog(TAccessLog* Log);
    TAccessLog* Log() const;
    // Reads the log again from its newest swipe.
    void Reload();
    // The swipes written since the top row come up above it.
    void ShowNewer();
    // A swipe that another program is about to write (the agent, for the door this window
    // drives through it): the list looks again for a moment until its row is there.
    void AwaitNewer();
    // The status line: what is wrong with the log, else what the last export did.
    void UpdateStatus();

protected:
    void keyPressEvent(QKeyEvent* Event) override;

private:
    void SetUpList();
    void ExportExecute();
    void LogChanged();

    std::unique_ptr<Ui::TActivityForm> FUi;
    TActivityModel* FModel = nullptr; // owned as a child
    QTimer* FSearchDelay = nullptr;   // owned as a child
    QTimer* FAwait = nullptr;         // owned as a child
    int FAwaitLeft = 0;
    QString FExported;
};
