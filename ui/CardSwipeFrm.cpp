#include "ui/CardSwipeFrm.h"

#include "ui/Pictures.h"
#include "ui_CardSwipeFrm.h"

TCardSwipeForm::TCardSwipeForm(QWidget* Owner)
    : TDialogForm(Owner), FUi(std::make_unique<Ui::TCardSwipeForm>())
{
    FUi->setupUi(this);
    // A normal window: it can be resized, minimised and maximised.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    FitToText({FUi->lblAction});
    FUi->btnAddToDatabase->setFocus();
    FUi->imgUnkownTag->setPixmap(Picture(QStringLiteral("question-disc"), FUi->imgUnkownTag->size()));
    FUi->btnAddToDatabase->setIcon(PictureIcon(QStringLiteral("tick"), FUi->btnAddToDatabase->iconSize()));
    connect(FUi->btnAddToDatabase, &QPushButton::clicked, this, &QDialog::accept);
    connect(FUi->btnIgnore, &QPushButton::clicked, this, &QDialog::reject);
}

TCardSwipeForm::~TCardSwipeForm() = default;

void TCardSwipeForm::SetTag(const TRfidTag& Value)
{
    FTag.AssignBytes(Value);
    FUi->lblTag->setText(FTag.CardNumber());
}
