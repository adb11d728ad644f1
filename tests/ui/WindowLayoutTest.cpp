#include "ui/CardSwipeFrm.h"
#include "ui/DoorConfigDlg.h"
#include "ui/NameDlg.h"
#include "ui/ProgressFrm.h"
#include "ui/Skin.h"

#include <QApplication>
#include <QLabel>
#include <QRadioButton>

#include <gtest/gtest.h>

namespace {

// The windows are laid out in pixels for 8-point text; with the skin's font standing in, every
// caption must still show whole and every control lie inside its parent.
void ExpectNothingCutOff(QWidget& Window)
{
    Window.ensurePolished();
    for (QWidget* W : Window.findChildren<QWidget*>()) {
        W->ensurePolished();
        const std::string Name = (Window.objectName() + "." + W->objectName()).toStdString();
        if (W->parentWidget()) {
            EXPECT_TRUE(W->parentWidget()->rect().contains(W->geometry())) << Name;
        }
        if (auto* Label = qobject_cast<QLabel*>(W); Label && !Label->text().isEmpty()) {
            if (Label->wordWrap()) {
                EXPECT_LE(Label->heightForWidth(Label->width()), Label->height()) << Name;
            } else {
                EXPECT_LE(Label->sizeHint().width(), Label->width()) << Name;
            }
            EXPECT_LE(Label->fontMetrics().height(), Label->height()) << Name;
        }
        if (auto* Radio = qobject_cast<QRadioButton*>(W)) {
            EXPECT_LE(Radio->sizeHint().width(), Radio->width()) << Name;
        }
    }
}

TEST(WindowLayout, NothingIsCutOffInTheSkin)
{
    ApplySkin(*qApp);
    TDoorConfigDialog Door(nullptr);
    TCardSwipeForm Swipe(nullptr);
    TRfidTag Widest;
    Widest.Bytes = {0, 0xFF, 0xFF, 0xFF, 0xFF};
    Swipe.SetTag(Widest);
    TNameDialog Name(nullptr);
    TProgressForm Progress(nullptr);
    for (QWidget* Window : std::initializer_list<QWidget*>{&Door, &Swipe, &Name, &Progress})
        ExpectNothingCutOff(*Window);
    qApp->setStyleSheet(QString());
}

} // namespace
