#pragma once

#include "cards/RfidTags.h"
#include "ui/DialogForm.h"

#include <memory>

namespace Ui {
class TCardSwipeForm;
}

// Tells the user that a card missing from the card list was swiped and asks whether to add it.
// The window keeps a card record of its own: the card it is given may vanish right afterwards.
class TCardSwipeForm : public TDialogForm
{
    Q_OBJECT

public:
    explicit TCardSwipeForm(QWidget* Owner);
    ~TCardSwipeForm() override;

    const TRfidTag& Tag() const { return FTag; }
    // Copies the card's bytes (not its name) and shows its card number.
    void SetTag(const TRfidTag& Value);

private:
    std::unique_ptr<Ui::TCardSwipeForm> FUi;
    TRfidTag FTag;
};
