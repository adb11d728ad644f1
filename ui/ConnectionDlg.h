#pragma once

#include "ui/DialogForm.h"

#include <QString>

#include <memory>

namespace Ui {
class TConnectionDialog;
}
class TUSBPnP;

// The modal window in which the user picks the serial port of an attached reader. The list
// follows readers being plugged in and removed while the window is open.
class TConnectionDialog : public TDialogForm
{
    Q_OBJECT

public:
    // Throws Exception when the discovery cannot start or read the attached devices.
    explicit TConnectionDialog(QWidget* Owner = nullptr);
    ~TConnectionDialog() override;

    // The chosen port name; empty when the list is empty.
    QString Port() const;

    // OnChange of USBPnP: offers its ports anew, the first one chosen.
    void USBPnPChange(QObject* Sender);

private:
    void FitPortList();

    std::unique_ptr<Ui::TConnectionDialog> FUi;
    int FPortListWidth = 0; // as drawn: the narrowest the list gets
    int FDrawnWidth = 0;
    int FRightMargin = 0;
    TUSBPnP* USBPnP = nullptr;
};
