#include "ui/NameDlg.h"

#include "ui_NameDlg.h"

TNameDialog::TNameDialog(QWidget* Owner) : TDialogForm(Owner), FUi(std::make_unique<Ui::TNameDialog>())
{
    FUi->setupUi(this);
    SetFixedBorder();
    connect(FUi->btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(FUi->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TNameDialog::~TNameDialog() = default;

QString TNameDialog::CardName() const { return FUi->txtName->text(); }

void TNameDialog::SetCardName(const QString& Value) { FUi->txtName->setText(Value); }

void TNameDialog::showEvent(QShowEvent* Event)
{
    TDialogForm::showEvent(Event);
    FUi->txtName->setFocus(Qt::OtherFocusReason);
    FUi->txtName->selectAll();
}
