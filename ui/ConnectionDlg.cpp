#include "ui/ConnectionDlg.h"

#include "discovery/ReaderIds.h"
#include "discovery/USBPnP.h"
#include "ui/Pictures.h"
#include "ui_ConnectionDlg.h"

#include <QAbstractItemView>

#include <algorithm>

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
    // A network reader's address is longer than a device name: the list opens wide enough.
    int Widest = 0;
    for (const QString& Port : USBPnP->Ports())
        Widest = std::max(Widest, FUi->cbPort->fontMetrics().horizontalAdvance(Port));
    FUi->cbPort->view()->setMinimumWidth(Widest + 2 * FUi->cbPort->fontMetrics().averageCharWidth() + 24);
    if (FUi->cbPort->count() > 0)
        FUi->cbPort->setCurrentIndex(0);
}
