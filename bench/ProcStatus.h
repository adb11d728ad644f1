#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>

// What /proc says of a process the bench started: its memory, its CPU time and how often it woke.

// A "Name:" field of a /proc status file.
inline long ProcField(const QString& File, const QByteArray& Name)
{
    QFile Status(File);
    if (!Status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& Line : Status.readAll().split('\n'))
        if (Line.startsWith(Name + ':'))
            return Line.mid(Name.size() + 1).trimmed().split(' ').first().toLong();
    return 0;
}

// Context switches of every thread: each is a wake-up.
inline long WakeUps(qint64 Pid)
{
    long Sum = 0;
    const QString Tasks = QStringLiteral("/proc/%1/task").arg(Pid);
    for (const QString& Task : QDir(Tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString Status = Tasks + u'/' + Task + QStringLiteral("/status");
        Sum += ProcField(Status, "voluntary_ctxt_switches") + ProcField(Status, "nonvoluntary_ctxt_switches");
    }
    return Sum;
}

// User plus system time in clock ticks.
inline long CpuTicks(qint64 Pid)
{
    QFile Stat(QStringLiteral("/proc/%1/stat").arg(Pid));
    if (!Stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray Text = Stat.readAll();
    const QList<QByteArray> F = Text.mid(Text.lastIndexOf(')') + 2).split(' ');
    return F.value(11).toLong() + F.value(12).toLong();
}
