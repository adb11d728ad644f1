// Not a check: with DORVIK_SCREENSHOTS set to a folder (scripts/screenshots does that), draws
// every window of the program in its skin into PNG files there, so the look can be reviewed
// without a display.

#include "cards/NameText.h"
#include "reader/Dorvik.h"
#include "ui/CardSwipeFrm.h"
#include "ui/ConnectionDlg.h"
#include "ui/DoorConfigDlg.h"
#include "ui/MainFrm.h"
#include "ui/MessageBoxes.h"
#include "ui/NameDlg.h"
#include "ui/Pictures.h"
#include "ui/ProgressFrm.h"
#include "ui/Skin.h"

#include "support/ModalHelper.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QAbstractItemView>
#include <QDir>
#include <QEventLoop>
#include <QScreen>
#include <QTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStandardItemModel>
#include <QToolButton>
#include <QTreeView>

#include <gtest/gtest.h>

namespace {

class Screenshots : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString Folder = qEnvironmentVariable("DORVIK_SCREENSHOTS");
        if (Folder.isEmpty())
            GTEST_SKIP() << "set DORVIK_SCREENSHOTS to a folder to draw the windows";
        FFolder = QDir(Folder);
        ASSERT_TRUE(FFolder.mkpath("."));
        ApplySkin(*qApp);
    }

    // Shows Window like the program does, lets it settle, and saves what it looks like.
    void Save(QWidget& Window, const QString& Name)
    {
        Window.show();
        Idle();
        SaveGrab(Window, Name);
        Window.hide();
    }

    // The event loop really waits for a while: enable rules run only then.
    static void Idle()
    {
        QEventLoop Loop;
        QTimer::singleShot(std::chrono::milliseconds(150), &Loop, &QEventLoop::quit);
        Loop.exec();
    }

    void SaveGrab(QWidget& Window, const QString& Name)
    {
        const QString Path = FFolder.filePath(Name + ".png");
        EXPECT_TRUE(Window.grab().save(Path)) << Path.toStdString();
    }

    // Grabs the message box that Show opens, then answers it.
    void SaveBox(const QString& Name, const std::function<void()>& Show)
    {
        auto Watch = AnswerNextModal([&](QWidget* Box) {
            Pump(std::chrono::milliseconds(100));
            SaveGrab(*Box, Name);
            Box->close();
        });
        Show();
        EXPECT_TRUE(Watch->Answered()) << Name.toStdString();
    }

    QDir FFolder;
};

TEST_F(Screenshots, SmallWindows)
{
    TDoorConfigDialog Door(nullptr);
    Door.SetMode(dmUnlockTimed);
    Door.SetDelay(10);
    Save(Door, "door-config");

    TCardSwipeForm Swipe(nullptr);
    TRfidTag Tag;
    Tag.Bytes = {0x01, 0x00, 0x12, 0xD6, 0x87};
    Swipe.SetTag(Tag);
    Save(Swipe, "card-swipe");

    TNameDialog Name(nullptr);
    Name.SetCardName("Front door");
    Save(Name, "name");

    TProgressForm Progress(nullptr);
    Save(Progress, "progress");
}

TEST_F(Screenshots, MessageBoxes)
{
    SaveBox("box-information", [] { ShowInformation(nullptr, "Your card reader has been updated and is ready to use."); });
    SaveBox("box-error", [] { ShowError(nullptr, "Invalid unlock delay"); });
    SaveBox("box-ok-cancel", [] {
        AskOkCancel(nullptr, "Do you want to transfer the card reader's database to your computer?\r\n\r\n"
                             "Any changes you made locally will be lost.");
    });
    SaveBox("box-yes-no", [] { AskYesNo(nullptr, "Set 0001234567 018,54919 as master card?"); });
    SaveBox("box-error-report", [] { ShowErrorReport(std::runtime_error("Unknown command")); });
}

// Every picture on the window background, at its own size and at twice the density.
TEST_F(Screenshots, Pictures)
{
    const std::pair<const char*, QSize> Pictures[] = {
        {"question-disc", {64, 64}}, {"tick", {24, 24}},         {"arrow-tray", {64, 64}}, {"usb-plug", {128, 128}},
        {"app-icon", {64, 64}},      {"card", {16, 16}},         {"logo", {257, 59}},      {"cmd-connect", {32, 32}},
        {"cmd-read", {32, 32}},      {"cmd-write", {32, 32}},    {"cmd-edit", {32, 32}},   {"cmd-master", {32, 32}},
        {"cmd-load", {32, 32}},      {"cmd-save", {32, 32}},     {"cmd-delete", {32, 32}}, {"cmd-clear", {32, 32}},
        {"cmd-door", {32, 32}},      {"info-disc", {32, 32}},    {"error-disc", {32, 32}}, {"warning-triangle", {32, 32}},
    };
    for (const qreal Ratio : {1.0, 2.0}) {
        QImage Sheet(QSize(620, 420) * Ratio, QImage::Format_ARGB32);
        Sheet.setDevicePixelRatio(Ratio);
        Sheet.fill(QApplication::palette().color(QPalette::Window));
        QPainter Painter(&Sheet);
        int X = 8, Y = 8, RowHeight = 0;
        for (const auto& [Name, Size] : Pictures) {
            if (X + Size.width() > 612) {
                X = 8;
                Y += RowHeight + 12;
                RowHeight = 0;
            }
            Painter.drawPixmap(X, Y, Picture(Name, Size, Ratio));
            X += Size.width() + 12;
            RowHeight = std::max(RowHeight, Size.height());
        }
        Painter.end();
        const QString Path = FFolder.filePath(Ratio > 1 ? "pictures@2x.png" : "pictures.png");
        EXPECT_TRUE(Sheet.save(Path)) << Path.toStdString();
    }
}

// The controls the later windows use, in the skin: command buttons, a list, a drop-down list.
TEST_F(Screenshots, SkinSampler)
{
    QDialog Window;
    Window.resize(460, 260);
    Window.setWindowTitle("Skin");

    const char* Commands[][2] = {
        {"cmd-connect", "&Connect"}, {"cmd-master", "Set &master"}, {"cmd-door", "Door &lock"}, {"cmd-clear", "&Clear"}};
    int X = 8;
    for (const auto& [Glyph, Caption] : Commands) {
        auto* Button = new QToolButton(&Window);
        Button->setGeometry(X, 8, 65, 73);
        Button->setText(Caption);
        Button->setIcon(PictureIcon(Glyph, QSize(32, 32)));
        Button->setIconSize(QSize(32, 32));
        Button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        Button->setEnabled(X < 200);
        X += 73;
    }

    auto* Model = new QStandardItemModel(0, 4, &Window);
    Model->setHorizontalHeaderLabels({"ID", "Cardn°", "Name", "Master"});
    for (int I = 0; I < 4; ++I) {
        auto* Id = new QStandardItem(PictureIcon("card", QSize(16, 16)), QString::number(I + 1));
        Model->appendRow({Id, new QStandardItem(QStringLiteral("00012345%1 018,5491%1").arg(I)),
                          new QStandardItem(I == 1 ? "Front door" : ""), new QStandardItem(I == 0 ? "Yes" : "")});
    }
    auto* List = new QTreeView(&Window);
    List->setRootIsDecorated(false);
    List->setModel(Model);
    List->setGeometry(8, 90, 444, 120);
    List->setCurrentIndex(Model->index(1, 0));
    List->selectionModel()->select(Model->index(1, 0), QItemSelectionModel::Rows | QItemSelectionModel::Select);

    auto* Ports = new QComboBox(&Window);
    Ports->addItems({"ttyUSB0", "ttyUSB1"});
    Ports->setGeometry(310, 8, 97, 21);
    auto* Edit = new QLineEdit("Edit", &Window);
    Edit->setGeometry(310, 40, 100, 21);
    auto* Ok = new QPushButton("&OK", &Window);
    Ok->setGeometry(296, 224, 75, 25);
    Ok->setDefault(true);
    auto* Disabled = new QPushButton("&Cancel", &Window);
    Disabled->setGeometry(376, 224, 75, 25);
    Disabled->setEnabled(false);
    Save(Window, "skin-sampler");
}

// The main window as a user sees it after a read: a few named cards, one of them the master,
// one name beyond ASCII, one row selected.
TEST_F(Screenshots, MainWindow)
{
    TMainForm Main;
    TProgressForm Progress(&Main);
    Main.SetProgressForm(&Progress);
    const std::pair<uint32_t, const char*> Cards[] = {
        {1234567, "Front door"}, {1234890, "Tür Süd – Lager"}, {88012345, "Master key"}, {4000001, ""},
        {4000002, "Delivery van"}, {0xFFFFFFFF, "Spare (largest card number)"}};
    for (const auto& [Value, Name] : Cards) {
        TRfidTag& Tag = Main.CardReader()->Tags().Add();
        Tag.Bytes = {0, uint8_t(Value >> 24), uint8_t(Value >> 16), uint8_t(Value >> 8), uint8_t(Value)};
        Tag.Name = TextToName(QString::fromUtf8(Name));
    }
    Main.CardReader()->SetMaster(2);
    Main.RefreshCardList();
    Main.resize(733, 575);
    Save(Main, "main-nothing-selected");

    auto* List = Main.findChild<QTreeView*>("lstCards");
    List->selectionModel()->select(List->model()->index(1, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    Save(Main, "main");
}

TEST_F(Screenshots, ConnectionDialog)
{
    qputenv("DORVIK_EXTRA_PORTS", "ttyUSB0:ttyACM1");
    TConnectionDialog Connection(nullptr);
    qunsetenv("DORVIK_EXTRA_PORTS");
    Save(Connection, "connection");

    // With its list open: the list is a window of its own, so the screen is grabbed.
    Connection.show();
    Idle();
    auto* Ports = Connection.findChild<QComboBox*>("cbPort");
    ASSERT_NE(Ports, nullptr);
    Ports->showPopup();
    Idle();
    const QRect Area = Connection.frameGeometry().united(Ports->view()->window()->frameGeometry());
    const QString Path = FFolder.filePath("connection-list.png");
    EXPECT_TRUE(Connection.screen()->grabWindow(0, Area.x(), Area.y(), Area.width(), Area.height()).save(Path))
        << Path.toStdString();
    Ports->hidePopup();
    Connection.hide();
}

} // namespace
