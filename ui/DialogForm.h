#pragma once

#include <QDialog>

#include <initializer_list>

class QKeyEvent;
class QLabel;

// The base of the program's dialog windows. Their buttons alone decide how they close: Escape is
// bound to nothing, while the title-bar close button still gives Cancel.
class TDialogForm : public QDialog
{
    Q_OBJECT

public:
    explicit TDialogForm(QWidget* Parent);

protected:
    // A fixed single border with only the close button; the client area keeps its current size.
    void SetFixedBorder();

    void keyPressEvent(QKeyEvent* Event) override;
};

// Labels placed by their top-left corner take the size of their text.
void FitToText(std::initializer_list<QLabel*> Labels);
