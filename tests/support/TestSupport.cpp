#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

bool WaitUntil(const std::function<bool()>& Condition, std::chrono::milliseconds Timeout)
{
    QDeadlineTimer Deadline(Timeout);
    while (!Condition()) {
        if (Deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void Pump(std::chrono::milliseconds Duration)
{
    QDeadlineTimer Deadline(Duration);
    while (!Deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}

QByteArray Hex(const char* Text) { return QByteArray::fromHex(QByteArray(Text).replace(' ', "")); }

bool ListensOnLoopback(int Port)
{
    QFile Table(QStringLiteral("/proc/net/tcp"));
    if (!Table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray Local = QStringLiteral("0100007F:%1").arg(Port, 4, 16, QChar('0')).toUpper().toLatin1();
    for (const QByteArray& Line : Table.readAll().split('\n')) {
        const QList<QByteArray> Fields = Line.simplified().split(' ');
        if (Fields.size() > 3 && Fields[1] == Local && Fields[3] == "0A")
            return true;
    }
    return false;
}
