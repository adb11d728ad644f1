#pragma once

// Driving modal windows from a test: the test arms an answer, then calls the function that runs
// the modal loop; the answer runs inside that loop once the window is up.

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

// Watches for the next modal window, one that becomes active after this object was made (a box
// opened over an already open dialog counts), and runs Action on it once. Stops watching when
// destroyed or after Timeout; Answered() tells whether Action ran.
class TModalAnswer
{
public:
    TModalAnswer(std::function<void(QWidget*)> Action, std::chrono::milliseconds Timeout)
        : FAction(std::move(Action)), FBefore(QApplication::activeModalWidget())
    {
        FDeadline.setRemainingTime(Timeout);
        FTimer.setInterval(10);
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Poll(); });
        FTimer.start();
    }
    TModalAnswer(const TModalAnswer&) = delete;
    TModalAnswer& operator=(const TModalAnswer&) = delete;

    bool Answered() const { return FAnswered; }

private:
    void Poll()
    {
        QWidget* Modal = QApplication::activeModalWidget();
        if (Modal && Modal != FBefore) {
            FTimer.stop();
            FAnswered = true;
            FAction(Modal); // may run modal loops of its own
        } else if (FDeadline.hasExpired()) {
            FTimer.stop();
        }
    }

    std::function<void(QWidget*)> FAction;
    QPointer<QWidget> FBefore;
    QDeadlineTimer FDeadline;
    QTimer FTimer;
    bool FAnswered = false;
};

[[nodiscard]] inline std::unique_ptr<TModalAnswer> AnswerNextModal(
    std::function<void(QWidget*)> Action, std::chrono::milliseconds Timeout = std::chrono::seconds(10))
{
    return std::make_unique<TModalAnswer>(std::move(Action), Timeout);
}

inline QList<QAbstractButton*> ModalButtons(QWidget* Modal)
{
    if (auto* Box = qobject_cast<QMessageBox*>(Modal))
        return Box->buttons();
    return Modal->findChildren<QAbstractButton*>();
}

inline QStringList ButtonTexts(QWidget* Modal)
{
    QStringList Texts;
    for (QAbstractButton* Button : ModalButtons(Modal))
        Texts << Button->text();
    return Texts;
}

// The text of a message box; empty for other windows.
inline QString ModalText(QWidget* Modal)
{
    auto* Box = qobject_cast<QMessageBox*>(Modal);
    return Box ? Box->text() : QString();
}

// Clicks the button captioned Text with the mouse. When there is none, the test fails and the
// window is closed with its close button, so that the test does not hang in its modal loop.
inline bool ClickButton(QWidget* Modal, const QString& Text)
{
    for (QAbstractButton* Button : ModalButtons(Modal)) {
        if (Button->text() == Text) {
            QTest::mouseClick(Button, Qt::LeftButton);
            return true;
        }
    }
    ADD_FAILURE() << "no button \"" << Text.toStdString() << "\" among \""
                  << ButtonTexts(Modal).join("\", \"").toStdString() << "\"";
    Modal->close();
    return false;
}

// What a message box showed.
struct TSeenBox
{
    QString Title;
    QString Text;
    QStringList Buttons;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
};

inline TSeenBox SeeBox(QWidget* Modal)
{
    TSeenBox Seen;
    Seen.Title = Modal->windowTitle();
    Seen.Text = ModalText(Modal);
    Seen.Buttons = ButtonTexts(Modal);
    if (auto* Box = qobject_cast<QMessageBox*>(Modal))
        Seen.Icon = Box->icon();
    return Seen;
}

// Answers the next message box with the button captioned ButtonText, after noting in Seen what
// it showed.
[[nodiscard]] inline std::unique_ptr<TModalAnswer> AnswerNextBox(const QString& ButtonText, TSeenBox& Seen)
{
    return AnswerNextModal([ButtonText, &Seen](QWidget* Modal) {
        Seen = SeeBox(Modal);
        ClickButton(Modal, ButtonText);
    });
}
