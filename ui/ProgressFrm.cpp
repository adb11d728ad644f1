#include "ui/ProgressFrm.h"

#include "ui/Pictures.h"
#include "ui_ProgressFrm.h"

TProgressForm::TProgressForm(QWidget* Owner)
    : TDialogForm(Owner), FUi(std::make_unique<Ui::TProgressForm>())
{
    FUi->setupUi(this);
    SetFixedBorder();
    FitToText({FUi->lblTitle});
    FUi->imgTask->setPixmap(Picture(QStringLiteral("arrow-tray"), FUi->imgTask->size()));
}

TProgressForm::~TProgressForm() = default;
