#pragma once

#include "cards/CardDatabaseFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <utility>

// Runs dorvik-cli as a process and keeps what it printed.
struct CliRun
{
    int Status = -1;
    QString Out;
    QString Err;
};

inline QString CliPath()
{
#ifdef DORVIK_CLI
    return QStringLiteral(DORVIK_CLI);
#else
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/cli/dorvik-cli");
#endif
}

inline CliRun RunCli(const QStringList& Args, const QProcessEnvironment& Env = QProcessEnvironment::systemEnvironment())
{
    QProcess Program;
    Program.setProcessEnvironment(Env);
    Program.start(CliPath(), Args);
    CliRun Result;
    // A safety net only: every command ends by itself within its own time-out.
    if (!Program.waitForFinished(60000)) {
        Program.kill();
        Program.waitForFinished();
        Result.Err = QStringLiteral("did not finish");
        return Result;
    }
    Result.Status = Program.exitStatus() == QProcess::NormalExit ? Program.exitCode() : -1;
    Result.Out = QString::fromUtf8(Program.readAllStandardOutput());
    Result.Err = QString::fromUtf8(Program.readAllStandardError());
    return Result;
}


inline void WriteCardFile(const QString& FileName, std::initializer_list<std::pair<std::array<uint8_t, 5>, QByteArray>> Cards,
                          uint32_t Master = 0)
{
    TRfidTags Tags;
    for (const auto& [Bytes, Name] : Cards) {
        TRfidTag& Tag = Tags.Add();
        Tag.Bytes = Bytes;
        Tag.Name = Name;
    }
    SaveCardDatabaseFile(FileName, Tags, {Master, 0, 5});
}

inline QByteArray FileBytes(const QString& FileName)
{
    QFile File(FileName);
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}
