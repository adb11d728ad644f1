// dorvik-screenshots: draws every window of the manager in its skin into PNG files, so the look
// can be reviewed without a display. scripts/screenshots runs it at two pixel densities.

#include "cards/NameText.h"
#include "log/AccessLog.h"
#include "reader/Dorvik.h"
#include "ui/ActivityFrm.h"
#include "ui/CardSwipeFrm.h"
#include "ui/ConnectionDlg.h"
#include "ui/DoorConfigDlg.h"
#include "ui/MainFrm.h"
#include "ui/MessageBoxes.h"
#include "ui/NameDlg.h"
#include "ui/Pictures.h"
#include "ui/ProgressFrm.h"
#include "ui/Skin.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <utility>

namespace {

const char Usage[] =
    "Usage: dorvik-screenshots FOLDER\n"
    "Draws every window of the manager in its skin into PNG files in FOLDER (made if missing).\n"
    "Runs on the offscreen platform unless QT_QPA_PLATFORM names another; the files take the\n"
    "pixel density of its screen.\n"
    "Exit status: 0 when every file was written, 1 otherwise, 2 for bad arguments.\n";

// Draws windows into the folder; a window that cannot be drawn or saved is reported, and the
// others are still drawn.
class TCamera
{
public:
    explicit TCamera(const QDir& Folder) : FFolder(Folder) {}

    bool Failed() const { return FFailed; }

    void Fail(const QString& What)
    {
        std::fprintf(stderr, "dorvik-screenshots: %s\n", qPrintable(What));
        FFailed = true;
    }

    QString PathOf(const QString& FileName) const { return FFolder.filePath(FileName); }

    // Shows Window like the program does, lets it settle, and saves what it looks like.
    void Save(QWidget& Window, const QString& Name)
    {
        Window.show();
        Idle();
        SaveGrab(Window, Name);
        Window.hide();
    }

    // The event loop really waits for a while: enable rules run only then.
    static void Idle(std::chrono::milliseconds Duration = std::chrono::milliseconds(150))
    {
        QEventLoop Loop;
        QTimer::singleShot(Duration, &Loop, &QEventLoop::quit);
        Loop.exec();
    }

    void SaveGrab(QWidget& Window, const QString& Name) { SaveImage(Window.grab().toImage(), Name + ".png"); }

    void SaveImage(const QImage& Image, const QString& FileName)
    {
        const QString Path = PathOf(FileName);
        if (Image.isNull())
            Fail(QStringLiteral("cannot draw %1").arg(FileName));
        else if (!Image.save(Path))
            Fail(QStringLiteral("cannot write %1").arg(Path));
    }

    // Grabs the message box that Show opens, then closes it. Show runs the box modally, so the
    // grab happens from a timer inside the box's own event loop.
    void SaveBox(const QString& Name, const std::function<void()>& Show)
    {
        const QPointer<QWidget> Before = QApplication::activeModalWidget();
        const QDeadlineTimer Deadline(std::chrono::seconds(10));
        bool Drawn = false;
        QTimer Poll;
        Poll.setInterval(10);
        QObject::connect(&Poll, &QTimer::timeout, [&] {
            QWidget* Box = QApplication::activeModalWidget();
            if (Box && Box != Before) {
                Poll.stop();
                Drawn = true;
                Idle(std::chrono::milliseconds(100));
                SaveGrab(*Box, Name);
                Box->close();
            } else if (Deadline.hasExpired()) {
                Poll.stop();
            }
        });
        Poll.start();
        Show();
        if (!Drawn)
            Fail(QStringLiteral("cannot draw %1: no message box came up").arg(Name));
    }

private:
    QDir FFolder;
    bool FFailed = false;
};

void SmallWindows(TCamera& Camera)
{
    TDoorConfigDialog Door(nullptr);
    Door.SetMode(dmUnlockTimed);
    Door.SetDelay(10);
    Camera.Save(Door, "door-config");

    TCardSwipeForm Swipe(nullptr);
    TRfidTag Tag;
    Tag.Bytes = {0x01, 0x00, 0x12, 0xD6, 0x87};
    Swipe.SetTag(Tag);
    Camera.Save(Swipe, "card-swipe");

    TNameDialog Name(nullptr);
    Name.SetCardName("Front door");
    Camera.Save(Name, "name");

    TProgressForm Progress(nullptr);
    Camera.Save(Progress, "progress");
}

void MessageBoxes(TCamera& Camera)
{
    Camera.SaveBox("box-information",
                   [] { ShowInformation(nullptr, "Your card reader has been updated and is ready to use."); });
    Camera.SaveBox("box-error", [] { ShowError(nullptr, "Invalid unlock delay"); });
    Camera.SaveBox("box-ok-cancel", [] {
        AskOkCancel(nullptr, "Do you want to transfer the card reader's database to your computer?\r\n\r\n"
                             "Any changes you made locally will be lost.");
    });
    Camera.SaveBox("box-yes-no", [] { AskYesNo(nullptr, "Set 0001234567 018,54919 as master card?"); });
    Camera.SaveBox("box-error-report", [] { ShowErrorReport(std::runtime_error("Unknown command")); });
}

// Every picture on the window background, at its own size and at twice the density.
void PictureSheets(TCamera& Camera)
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
            const QPixmap Drawn = Picture(Name, Size, Ratio);
            if (Drawn.isNull())
                Camera.Fail(QStringLiteral("cannot draw the picture %1").arg(QLatin1String(Name)));
            Painter.drawPixmap(X, Y, Drawn);
            X += Size.width() + 12;
            RowHeight = std::max(RowHeight, Size.height());
        }
        Painter.end();
        Camera.SaveImage(Sheet, Ratio > 1 ? "pictures@2x.png" : "pictures.png");
    }
}

// The controls the later windows use, in the skin: command buttons, a list, a drop-down list.
void SkinSampler(TCamera& Camera)
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
    Camera.Save(Window, "skin-sampler");
}

// The main window as a user sees it after a read: a few named cards, one of them the master,
// one name beyond ASCII, one row selected.
void MainWindow(TCamera& Camera)
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
    Camera.Save(Main, "main-nothing-selected");

    auto* List = Main.findChild<QTreeView*>("lstCards");
    if (!List) {
        Camera.Fail("cannot draw main: the main window has no card list lstCards");
        return;
    }
    List->selectionModel()->select(List->model()->index(1, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    Camera.Save(Main, "main");
}

void ConnectionDialog(TCamera& Camera)
{
    qputenv("DORVIK_EXTRA_PORTS", "ttyUSB0:ttyACM1");
    TConnectionDialog Connection(nullptr);
    qunsetenv("DORVIK_EXTRA_PORTS");
    Camera.Save(Connection, "connection");

    // With its list open: the list is a window of its own, so the screen is grabbed.
    Connection.show();
    TCamera::Idle();
    auto* Ports = Connection.findChild<QComboBox*>("cbPort");
    if (!Ports) {
        Camera.Fail("cannot draw connection-list: the connection dialog has no port list cbPort");
        return;
    }
    Ports->showPopup();
    TCamera::Idle();
    const QRect Area = Connection.frameGeometry().united(Ports->view()->window()->frameGeometry());
    Camera.SaveImage(Connection.screen()->grabWindow(0, Area.x(), Area.y(), Area.width(), Area.height()).toImage(),
                     "connection-list.png");
    Ports->hidePopup();
    Connection.hide();
}

// Activity over a morning's swipes at two doors, one of them a card the list did not hold.
void ActivityWindow(TCamera& Camera)
{
    QTemporaryDir Folder;
    TAccessLog Log(Folder.filePath(QStringLiteral("access.db")));
    const QDateTime Morning(QDate(2026, 12, 9), QTime(7, 58, 4));
    const struct
    {
        int Seconds;
        const char* Door;
        uint32_t Value;
        const char* Name;
        const char* Reason = "";
    } Swipes[] = {
        {0, "ttyUSB0", 1234567, "Front door"},        {312, "rfc2217://door-pc:4001", 88012345, "Master key"},
        {1735, "ttyUSB0", 1234890, "Tür Süd – Lager"}, {2410, "ttyUSB0", 7340021, ""},
        {3677, "rfc2217://door-pc:4001", 4000002, "Delivery van"},
        {5120, "Back door", 5550123, "Evan Price", "expired 2026-11-30"},
        {21798, "ttyUSB0", 1234567, "Front door"},
    };
    for (const auto& S : Swipes) {
        TRfidTag Tag;
        Tag.Bytes = {0, uint8_t(S.Value >> 24), uint8_t(S.Value >> 16), uint8_t(S.Value >> 8), uint8_t(S.Value)};
        TSwipeRecord Swipe = MakeSwipeRecord(Tag, QString::fromUtf8(S.Door), nullptr);
        Swipe.Time = Morning.addSecs(S.Seconds).toUTC();
        Swipe.Name = QString::fromUtf8(S.Name);
        Swipe.Reason = QString::fromUtf8(S.Reason);
        Swipe.Known = !Swipe.Name.isEmpty() && Swipe.Reason.isEmpty();
        if (!Log.Commit(Swipe))
            return Camera.Fail(QStringLiteral("cannot draw activity: %1").arg(Log.Error()));
    }
    TActivityForm Activity(nullptr);
    Activity.SetLog(&Log);
    Camera.Save(Activity, "activity");
}

} // namespace

int main(int argc, char** argv)
{
    // Answered before QApplication, which needs a platform to start.
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (argc != 2 || argv[1][0] == '-' || argv[1][0] == '\0') {
        std::fputs(Usage, stderr);
        return 2;
    }
    // Drawn for review, not for the screen at hand.
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const QString Folder = QString::fromLocal8Bit(argv[1]);
    QApplication Application(argc, argv);

    const QDir Out(Folder);
    if (!Out.mkpath(".")) {
        std::fprintf(stderr, "dorvik-screenshots: cannot make the folder %s\n", qPrintable(Folder));
        return 1;
    }
    ApplySkin(Application);

    TCamera Camera(Out);
    SmallWindows(Camera);
    MessageBoxes(Camera);
    PictureSheets(Camera);
    SkinSampler(Camera);
    MainWindow(Camera);
    ConnectionDialog(Camera);
    ActivityWindow(Camera);
    return Camera.Failed() ? 1 : 0;
}
