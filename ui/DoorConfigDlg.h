#pragma once

#include "reader/DoorMode.h"
#include "ui/DialogForm.h"

#include <memory>

namespace Ui {
class TDoorConfigDialog;
}

// Lets the user choose how the reader drives the door lock and how long a timed unlock lasts.
// Values are set before the dialog is shown and read after it closed with OK; OK closes only
// with a delay the reader can take (protocol::MinDoorDelay to MaxDoorDelay seconds).
class TDoorConfigDialog : public TDialogForm
{
    Q_OBJECT

public:
    explicit TDoorConfigDialog(QWidget* Owner);
    ~TDoorConfigDialog() override;

    TDoorMode Mode() const;
    // A value that is no mode leaves the choice as it is.
    void SetMode(TDoorMode Value);

    // 0 when the delay text does not convert; after OK it always does.
    int Delay() const;
    void SetDelay(int Value);

    void done(int Result) override;

protected:
    // Whether the dialog may close with Result; on a refused OK the user has been told why.
    bool FormCloseQuery(int Result);

private:
    std::unique_ptr<Ui::TDoorConfigDialog> FUi;
};
