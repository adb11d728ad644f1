#include "ui/MainFrm.h"
#include "ui/MessageBoxes.h"
#include "ui/ProgressFrm.h"
#include "ui/Skin.h"
#include "ui/StartupProbe.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

int main(int argc, char** argv)
{
    QApplication Application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dorvik"));
    QGuiApplication::setDesktopFileName(QStringLiteral("dorvik"));

    // One shortcut per door: dorvik --port rfc2217://door-1:3001
    QCommandLineParser Options;
    Options.setApplicationDescription(QStringLiteral("Manages the cards and the door of an RFID card reader."));
    Options.addHelpOption();
    const QCommandLineOption Port(QStringLiteral("port"),
                                  QStringLiteral("Connects at start to the reader on PORT: a device (ttyUSB0, "
                                                 "/dev/ttyUSB0) or a network address (tcp://HOST:PORT, rfc2217://HOST:PORT)."),
                                  QStringLiteral("PORT"));
    Options.addOption(Port);
    Options.process(Application);

    ApplySkin(Application);
    InstallErrorReport();

    TMainForm MainForm;
    TProgressForm ProgressForm(&MainForm);
    MainForm.SetProgressForm(&ProgressForm);
    InstallStartupProbe(MainForm);
    MainForm.show();
    if (Options.isSet(Port))
        QTimer::singleShot(0, &MainForm, [&MainForm, Given = Options.value(Port)] { MainForm.ConnectTo(Given); });
    return QApplication::exec();
}
