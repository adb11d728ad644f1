#include "ui/MainFrm.h"
#include "ui/MessageBoxes.h"
#include "ui/ProgressFrm.h"
#include "ui/Skin.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication Application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dorvik"));
    ApplySkin(Application);
    InstallErrorReport();

    TMainForm MainForm;
    TProgressForm ProgressForm(&MainForm);
    MainForm.SetProgressForm(&ProgressForm);
    MainForm.show();
    return QApplication::exec();
}
