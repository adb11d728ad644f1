#include "CommandLine.h"

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
    if (const std::optional<int> Status = AnswerInfoOptions(argc, argv))
        return *Status;
    QApplication Application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dorvik"));
    QGuiApplication::setDesktopFileName(QStringLiteral(DORVIK_APP_ID));

    // One shortcut per door: dorvik --port rfc2217://door-1:4001. --help and --version were
    // answered above, before any display was needed.
    QCommandLineParser Options;
    const QCommandLineOption Port(QStringLiteral("port"), QStringLiteral("Connects at start to the reader on PORT."),
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
