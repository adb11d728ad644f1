#include "tools/cli/SyncJob.h"

#include "tools/cli/GiveUpText.h"
#include "reader/Verify.h"

#include "reader/CPort.h"

TSyncJob::TSyncJob(const QString& Port, const TRfidTags& Tags, uint32_t Master, int TimeoutMs, std::function<void()> Done)
    : FTimeoutMs(TimeoutMs), FDone(std::move(Done))
{
    FResult.Port = Port;
    FReader.SetPort(Port);
    for (int I = 0; I < Tags.Count(); ++I) {
        TRfidTag& Card = FReader.Tags().Add();
        Card.AssignBytes(Tags.Items(I));
        Card.Name = Tags.Items(I).Name;
    }
    FReader.SetMaster(Master);
    FWritten = ValuesOf(FReader.Tags());
    FWrittenMaster = uint8_t(Master & 0xFF);
    FReader.SetStallTimeout(TimeoutMs);
    FReader.OnTransferStalled = [this](QObject*) { End(false, GiveUpText(FReader.GiveUpReason(), FTimeoutMs)); };
    // Whatever goes wrong on this reader's line fails this reader's row.
    FReader.OnError = [this](QObject*, const std::exception& E) { End(false, QString::fromUtf8(E.what())); };
    FReader.OnDisconnect = [this](QObject*) { End(false, QStringLiteral("the reader hung up")); };
    FReader.OnEndUpdate = [this](QObject*) { Written(); };
}

TSyncJob::~TSyncJob()
{
    FReader.OnDisconnect = nullptr;
    FReader.OnEndUpdate = nullptr;
    FReader.OnTransferEnd = nullptr;
    FReader.OnError = nullptr;
}

void TSyncJob::Start()
{
    FClock.start();
    try {
        FReader.Connect();
        FReader.WriteDatabase();
    } catch (const std::exception& E) {
        End(false, QString::fromUtf8(E.what()));
    }
}

// The reader's frame 9 arrives inside the component's handler: the read back starts once it
// has returned.
void TSyncJob::Written()
{
    QMetaObject::invokeMethod(this, [this] { ReadBack(); }, Qt::QueuedConnection);
}

void TSyncJob::ReadBack()
{
    if (FFinished)
        return;
    FReader.OnTransferEnd = [this](QObject*) {
        QMetaObject::invokeMethod(this, [this] {
            if (FFinished)
                return;
            try {
                Verify(FWritten, FWrittenMaster, FReader);
                End(true);
            } catch (const std::exception& E) {
                End(false, QString::fromUtf8(E.what()));
            }
        }, Qt::QueuedConnection);
    };
    try {
        FReader.ReadDatabase();
    } catch (const std::exception& E) {
        End(false, QString::fromUtf8(E.what()));
    }
}

void TSyncJob::End(bool Ok, const QString& Message)
{
    if (FFinished)
        return;
    FFinished = true;
    FResult.Ok = Ok;
    FResult.Message = Message;
    FResult.Seconds = FClock.isValid() ? FClock.elapsed() / 1000.0 : 0;
    FResult.Cards = FReader.Tags().Count();
    FResult.Master = FReader.Master();
    FReader.OnDisconnect = nullptr;
    FReader.SetStallTimeout(0);
    if (FReader.TransferActive())
        FReader.CancelTransfer();
    QMetaObject::invokeMethod(this, [this] {
        try {
            FReader.Disconnect();
        } catch (const std::exception&) {
            // Closing what is already gone: nothing left to tell.
        }
        if (FDone)
            FDone();
    }, Qt::QueuedConnection);
}
