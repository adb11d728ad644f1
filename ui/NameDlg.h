#pragma once

#include "ui/DialogForm.h"

#include <QString>

#include <memory>

namespace Ui {
class TNameDialog;
}

// Edits the name of one card. It opens with the whole name selected, so typing replaces it.
class TNameDialog : public TDialogForm
{
    Q_OBJECT

public:
    explicit TNameDialog(QWidget* Owner);
    ~TNameDialog() override;

    // Exactly as typed, the empty text included.
    QString CardName() const;
    void SetCardName(const QString& Value);

protected:
    void showEvent(QShowEvent* Event) override;

private:
    std::unique_ptr<Ui::TNameDialog> FUi;
};
