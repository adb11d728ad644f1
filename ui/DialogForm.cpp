#include "ui/DialogForm.h"

#include <QKeyEvent>
#include <QLabel>

TDialogForm::TDialogForm(QWidget* Parent) : QDialog(Parent) {}

void TDialogForm::SetFixedBorder()
{
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
}

void TDialogForm::keyPressEvent(QKeyEvent* Event)
{
    if (Event->key() == Qt::Key_Escape || Event->matches(QKeySequence::Cancel)) {
        Event->accept();
        return;
    }
    QDialog::keyPressEvent(Event);
}

void FitToText(std::initializer_list<QLabel*> Labels)
{
    for (QLabel* Label : Labels)
        Label->adjustSize();
}
