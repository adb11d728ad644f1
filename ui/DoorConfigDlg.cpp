#include "ui/DoorConfigDlg.h"

#include "reader/Protocol.h"
#include "ui/IntegerText.h"
#include "ui/MessageBoxes.h"
#include "ui_DoorConfigDlg.h"

#include <QButtonGroup>

TDoorConfigDialog::TDoorConfigDialog(QWidget* Owner)
    : TDialogForm(Owner), FUi(std::make_unique<Ui::TDoorConfigDialog>())
{
    FUi->setupUi(this);
    SetFixedBorder();
    FitToText({FUi->lblBehavior, FUi->lblSeconds});
    // One group, so the arrow keys move between the three modes.
    auto* Modes = new QButtonGroup(this);
    for (QRadioButton* Mode : {FUi->chkLockUnlock, FUi->chkMomentary, FUi->chkUnlockTimed})
        Modes->addButton(Mode);
    FUi->btnOK->setFocus();
    connect(FUi->btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(FUi->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TDoorConfigDialog::~TDoorConfigDialog() = default;

TDoorMode TDoorConfigDialog::Mode() const
{
    if (FUi->chkLockUnlock->isChecked())
        return dmLockUnlock;
    if (FUi->chkMomentary->isChecked())
        return dmMomentary;
    return dmUnlockTimed;
}

void TDoorConfigDialog::SetMode(TDoorMode Value)
{
    switch (Value) {
    case dmLockUnlock:
        FUi->chkLockUnlock->setChecked(true);
        break;
    case dmMomentary:
        FUi->chkMomentary->setChecked(true);
        break;
    case dmUnlockTimed:
        FUi->chkUnlockTimed->setChecked(true);
        break;
    }
}

int TDoorConfigDialog::Delay() const
{
    int32_t Value = 0;
    TryStrToInt(FUi->txtDelay->text(), Value);
    return Value;
}

void TDoorConfigDialog::SetDelay(int Value) { FUi->txtDelay->setText(QString::number(Value)); }

void TDoorConfigDialog::done(int Result)
{
    if (FormCloseQuery(Result))
        TDialogForm::done(Result);
}

bool TDoorConfigDialog::FormCloseQuery(int Result)
{
    if (Result != Accepted)
        return true;
    int32_t Value = 0;
    if (!TryStrToInt(FUi->txtDelay->text(), Value))
        FUi->txtDelay->setText(QStringLiteral("0"));
    // The reader keeps the delay in one byte: a longer one would silently wrap around.
    if (Value >= protocol::MinDoorDelay && Value <= protocol::MaxDoorDelay)
        return true;
    ShowError(this, QStringLiteral("Invalid unlock delay"));
    FUi->txtDelay->setFocus(Qt::OtherFocusReason);
    FUi->txtDelay->selectAll();
    return false;
}
