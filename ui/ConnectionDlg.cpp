#include "ui/ConnectionDlg.h"

#include "discovery/ReaderIds.h"
#include "discovery/USB.h"
#include "ui/Pictures.h"
#include "ui_ConnectionDlg.h"

TConnectionDialog::TConnectionDialog(QWidget* Owner)
    : TDialogForm(Owner)
    , FUi(std::make_unique<Ui::TConnectionDialog>())
{
    FUi->setupUi(this);
    SetFixedBorder();
    FitToText({FUi->lblTitle});
    FUi->imgLogo->setPixmap(Picture(QStringLiteral("usb-plug"), FUi->imgLogo->size()));
    connect(FUi->btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(FUi->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    FUi->cbPort->setFocus();

    USBPnP = new TUSBPnP(this);
    USBPnP->setObjectName(QStringLiteral("USBPnP"));
    USBPnP->SetHardwareId(QString::fromLatin1(ReaderHardwareId));
    USBPnP->OnChange = [this](QObject* Sender) { USBPnPChange(Sender); };
    USBPnP->Refresh();
}

TConnectionDialog::~TConnectionDialog() = default;

QString TConnectionDialog::Port() const { return FUi->cbPort->currentText(); }

void TConnectionDialog::USBPnPChange(QObject*)
{
    // A choice made before the change is not kept: the first port is offered again.
    FUi->cbPort->clear();
    FUi->cbPort->addItems(USBPnP->Ports());
    if (FUi->cbPort->count() > 0)
        FUi->cbPort->setCurrentIndex(0);
}
