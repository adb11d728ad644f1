#pragma once

#include "ui/DialogForm.h"

#include <memory>

namespace Ui {
class TProgressForm;
}

// Shown, without blocking, while the card database travels to or from the reader. Its band
// moves for as long as it is shown; its close button only hides it.
class TProgressForm : public TDialogForm
{
    Q_OBJECT

public:
    explicit TProgressForm(QWidget* Owner);
    ~TProgressForm() override;

private:
    std::unique_ptr<Ui::TProgressForm> FUi;
};
