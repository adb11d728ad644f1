#pragma once

// Answers the modal windows that a test expects, in the order they come: each newly opened
// modal window gets the next answer. One watcher for the whole sequence, so two answers can
// never race for the same window.

#include <QApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <deque>
#include <functional>

class TModalScript
{
public:
    using TAnswer = std::function<void(QWidget*)>;

    explicit TModalScript(std::initializer_list<TAnswer> Answers,
                          std::chrono::milliseconds Timeout = std::chrono::seconds(20))
        : FAnswers(Answers), FLast(QApplication::activeModalWidget())
    {
        FDeadline.setRemainingTime(Timeout);
        FTimer.setInterval(10);
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Poll(); });
        FTimer.start();
    }
    TModalScript(const TModalScript&) = delete;
    TModalScript& operator=(const TModalScript&) = delete;

    bool Done() const { return FAnswers.empty(); }
    int Answered() const { return FCount; }

private:
    void Poll()
    {
        if (FAnswers.empty() || FDeadline.hasExpired()) {
            FTimer.stop();
            return;
        }
        QWidget* Modal = QApplication::activeModalWidget();
        if (!Modal || Modal == FLast || !Modal->isVisible())
            return;
        FLast = Modal;
        TAnswer Next = std::move(FAnswers.front());
        FAnswers.pop_front();
        ++FCount;
        Next(Modal); // may run nested modal loops; this timer keeps polling inside them
    }

    std::deque<TAnswer> FAnswers;
    QPointer<QWidget> FLast;
    QDeadlineTimer FDeadline;
    QTimer FTimer;
    int FCount = 0;
};
