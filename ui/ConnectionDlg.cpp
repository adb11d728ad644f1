#include "ui/ConnectionDlg.h"

#include "discovery/AgentDoors.h"
#include "discovery/ReaderIds.h"
#include "discovery/USBPnP.h"
#include "ui/Pictures.h"
#include "ui_ConnectionDlg.h"

#include <QAbstractItemView>
#include <QStyle>
#include <QStyleOptionComboBox>

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
    FPortListWidth = FUi->cbPort->width();
    FDrawnWidth = width();
    FRightMargin = FDrawnWidth - FUi->lblTitle->geometry().right() - 1;

    USBPnP = new TUSBPnP(this);
    USBPnP->setObjectName(QStringLiteral("USBPnP"));
    USBPnP->SetHardwareId(QString::fromLatin1(ReaderHardwareId));
    USBPnP->OnChange = [this](QObject* Sender) { USBPnPChange(Sender); };
    USBPnP->Refresh();
}

TConnectionDialog::~TConnectionDialog() = default;

// An agent's door is shown by its name; the port behind it is its socket.
QString TConnectionDialog::Port() const
{
    const QVariant Behind = FUi->cbPort->currentData();
    return Behind.isValid() ? Behind.toString() : FUi->cbPort->currentText();
}

void TConnectionDialog::USBPnPChange(QObject*)
{
    // A choice made before the change is not kept: the first port is offered again.
    QComboBox* List = FUi->cbPort;
    List->clear();
    List->addItems(USBPnP->Ports());
    for (const TAgentDoor& Door : AgentDoors())
        List->addItem(Door.Label(), Door.SocketPort());
    FitPortList();
    if (List->count() > 0)
        List->setCurrentIndex(0);
}

// The list is as wide as its longest entry, so a door's name or a network address can be read
// before OK; the dialog grows to hold it, never shrinks below its drawn size.
void TConnectionDialog::FitPortList()
{
    QComboBox* List = FUi->cbPort;
    int Widest = 0;
    for (int I = 0; I < List->count(); ++I)
        Widest = std::max(Widest, List->fontMetrics().horizontalAdvance(List->itemText(I)));
    QStyleOptionComboBox Option;
    Option.initFrom(List);
    const int Needed = List->style()
                           ->sizeFromContents(QStyle::CT_ComboBox, &Option, QSize(Widest, List->height()), List)
                           .width();
    const int Width = std::max(FPortListWidth, Needed);
    List->resize(Width, List->height());
    List->view()->setMinimumWidth(Width);
    const int Right = List->x() + Width + FRightMargin;
    setFixedWidth(std::max(FDrawnWidth, Right));
}
