#pragma once

#include "reader/Dorvik.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>

// One reader of a sync: connects, writes the database, reads it back and compares, all without
// waiting, so that many run side by side in one event loop and a reader that drops or stalls
// fails alone.
class TSyncJob : public QObject
{
public:
    struct Outcome
    {
        QString Port;
        int Cards = 0;
        uint32_t Master = 0;
        bool Ok = false;
        QString Message; // why it failed
        double Seconds = 0;
    };

    // Done runs once, when the job has ended either way.
    TSyncJob(const QString& Port, const TRfidTags& Tags, uint32_t Master, int TimeoutMs, std::function<void()> Done);
    ~TSyncJob() override;

    void Start();
    bool Finished() const { return FFinished; }
    const Outcome& Result() const { return FResult; }

private:
    void Written();
    void ReadBack();
    void End(bool Ok, const QString& Message = {});

    Outcome FResult;
    int FTimeoutMs;
    std::function<void()> FDone;
    std::vector<uint32_t> FWritten;
    uint8_t FWrittenMaster = 0;
    bool FFinished = false;
    QElapsedTimer FClock;
    TDorvik FReader; // last: its events reach everything above
};
