// Arbitrary bytes are loaded as a card database file into a reader component, once from a stream
// that knows its size and once from one that does not (a pipe). Both loads must end alike; a
// failed load leaves the component exactly as it was; a file that loads saves back byte for byte,
// its reserved header bytes aside.

#include "fuzz/FuzzCheck.h"
#include "reader/Dorvik.h"

#include <QBuffer>
#include <QCoreApplication>

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

constexpr uint32_t MasterBefore = 0x1234; // above 255, so any load changes it visibly
constexpr int ReservedBegin = 7;
constexpr int ReservedEnd = 24;

// A pipe: no size, no seeking, and reads that deliver a few bytes at a time.
class TPipeStream : public QIODevice
{
public:
    explicit TPipeStream(const QByteArray& Bytes) : FBytes(Bytes) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* Data, qint64 MaxSize) override
    {
        const qint64 Count = std::min({MaxSize, qint64(FBytes.size()) - FPos, qint64(7)});
        if (Count <= 0)
            return -1;
        std::memcpy(Data, FBytes.constData() + FPos, size_t(Count));
        FPos += Count;
        return Count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray FBytes;
    qint64 FPos = 0;
};

void PutKnownState(TDorvik& Reader)
{
    Reader.Tags().Clear();
    TRfidTag& Front = Reader.Tags().Add();
    Front.Bytes = {1, 0, 0x12, 0xD6, 0x87};
    Front.Name = "Front door";
    TRfidTag& Back = Reader.Tags().Add();
    Back.Bytes = {0, 0xFF, 0, 0, 1};
    Back.Name = QByteArray("\0\xFF", 2);
    Reader.SetMaster(MasterBefore);
    Reader.SetDoorMode(dmMomentary);
    Reader.SetDoorDelay(9);
}

QByteArray Saved(TDorvik& Reader)
{
    QBuffer Out;
    Out.open(QIODevice::WriteOnly);
    Reader.SaveToStream(Out);
    return Out.data();
}

struct TOutcome
{
    std::optional<std::string> Error;
    QByteArray SavedAfter; // the component saved with the file's door bytes
    uint32_t Master = 0;
};

TOutcome Load(TDorvik& Reader, QIODevice& Stream, const QByteArray& File)
{
    PutKnownState(Reader);
    const QByteArray Before = Saved(Reader);
    TOutcome Result;
    try {
        Reader.LoadFromStream(Stream);
    } catch (const Exception& E) {
        Result.Error = E.what();
    } catch (const std::exception& E) {
        Broken(std::string("a load failed with a foreign exception: ") + E.what());
    }
    Result.Master = Reader.Master();
    if (Reader.DoorMode() != dmMomentary || Reader.DoorDelay() != 9)
        Broken("a load changed the door settings");
    if (Result.Error) {
        if (Saved(Reader) != Before || Reader.Master() != MasterBefore)
            Broken("a failed load changed the component: " + *Result.Error);
        return Result;
    }
    Reader.SetDoorMode(TDoorMode(uint8_t(File[5])));
    Reader.SetDoorDelay(uint8_t(File[6]));
    Result.SavedAfter = Saved(Reader);
    return Result;
}

void CheckOutcome(const TOutcome& Outcome, const QByteArray& File)
{
    if (Outcome.Error) {
        static const char* const Known[] = {"Stream read error",
                                            "The file you selected is not a valid database file.",
                                            "Out of memory"};
        if (std::none_of(std::begin(Known), std::end(Known),
                         [&](const char* K) { return *Outcome.Error == K; }))
            Broken("unknown load error: " + *Outcome.Error);
        return;
    }
    if (Outcome.Master != uint8_t(File[4]))
        Broken("Master is not the file's byte 4");
    QByteArray Expected = File;
    std::fill(Expected.begin() + ReservedBegin, Expected.begin() + ReservedEnd, '\0');
    if (Outcome.SavedAfter != Expected)
        Broken("a loaded file saved back differently");
}

TDorvik* Reader = nullptr; // lives until the process ends

} // namespace

extern "C" int LLVMFuzzerInitialize(int* Argc, char*** Argv)
{
    new QCoreApplication(*Argc, *Argv);
    Reader = new TDorvik;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const QByteArray File(reinterpret_cast<const char*>(Data), qsizetype(Size));

    QBuffer Seekable;
    Seekable.setData(File);
    Seekable.open(QIODevice::ReadOnly);
    const TOutcome FromBuffer = Load(*Reader, Seekable, File);
    CheckOutcome(FromBuffer, File);

    TPipeStream Pipe(File);
    const TOutcome FromPipe = Load(*Reader, Pipe, File);
    if (FromPipe.Error != FromBuffer.Error || FromPipe.SavedAfter != FromBuffer.SavedAfter)
        Broken("a pipe and a buffer load the same bytes differently: " +
               FromBuffer.Error.value_or("loaded") + " / " + FromPipe.Error.value_or("loaded"));
    return 0;
}
