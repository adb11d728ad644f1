#include "CommandLine.h"

#include "ui/MainFrm.h"
#include "ui/MessageBoxes.h"
#include "ui/ProgressFrm.h"
#include "ui/Skin.h"
#include "ui/StartupProbe.h"

#include <QApplication>

int main(int argc, char** argv)
{
    if (const std::optional<int> Status = AnswerInfoOptions(argc, argv))
        return *Status;
    QApplication Application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dorvik"));
    QGuiApplication::setDesktopFileName(QStringLiteral(DORVIK_APP_ID));
    ApplySkin(Application);
    InstallErrorReport();

    TMainForm MainForm;
    TProgressForm ProgressForm(&MainForm);
    MainForm.SetProgressForm(&ProgressForm);
    InstallStartupProbe(MainForm);
    MainForm.show();
    return QApplication::exec();
}
