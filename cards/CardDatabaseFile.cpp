#include "cards/CardDatabaseFile.h"

#include "common/Errors.h"
#include "common/SystemError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <new>

namespace {

const char Magic[4] = {'T', 'D', 'B', 'F'};
constexpr int ReadChunk = 1 << 20;

[[noreturn]] void StreamReadError() { throw Exception("Stream read error"); }

void WriteAll(QIODevice& Stream, const char* Data, qint64 Size)
{
    if (Stream.write(Data, Size) != Size)
        throw Exception("Stream write error");
}

// Bytes left in the stream, or -1 when a sequential stream cannot tell.
qint64 Remaining(const QIODevice& Stream)
{
    if (Stream.isSequential())
        return -1;
    return Stream.size() - Stream.pos();
}

// Reads exactly Size bytes. A size beyond what the stream holds is refused before any memory is
// taken for it; a sequential stream is read in bounded chunks for the same reason.
QByteArray ReadExactly(QIODevice& Stream, qint64 Size)
{
    const qint64 Left = Remaining(Stream);
    if (Left >= 0 && Size > Left)
        StreamReadError();
    QByteArray Result;
    try {
        Result.reserve(Left >= 0 ? Size : qMin<qint64>(Size, ReadChunk));
        while (Result.size() < Size) {
            const QByteArray Piece = Stream.read(qMin<qint64>(Size - Result.size(), ReadChunk));
            if (Piece.isEmpty())
                StreamReadError();
            Result.append(Piece);
        }
    } catch (const std::bad_alloc&) {
        throw Exception("Out of memory");
    }
    return Result;
}

bool AtEnd(QIODevice& Stream)
{
    // For sequential streams atEnd() can be false while nothing more will come until a read
    // tries; peeking one byte settles it.
    if (!Stream.isSequential())
        return Stream.pos() >= Stream.size();
    char Byte;
    return Stream.peek(&Byte, 1) <= 0;
}

void ReadRecord(QIODevice& Stream, TRfidTag& Tag)
{
    const QByteArray Bytes = ReadExactly(Stream, 5);
    std::memcpy(Tag.Bytes.data(), Bytes.constData(), 5);
    const QByteArray Length = ReadExactly(Stream, 4);
    const qint32 NameLength = qFromLittleEndian<qint32>(Length.constData());
    if (NameLength < 0)
        StreamReadError();
    Tag.Name = ReadExactly(Stream, NameLength);
}

QString SystemText(int Error) { return QString::fromLocal8Bit(ErrnoText(Error)); }

QString FullPath(const QString& FileName)
{
    return QDir::toNativeSeparators(QFileInfo(FileName).absoluteFilePath());
}

[[noreturn]] void CannotCreate(const QString& FileName, const QString& Why)
{
    throw Exception(Format("Cannot create file \"%s\". %s", FullPath(FileName).toUtf8().constData(),
                           Why.toUtf8().constData()));
}

} // namespace

void SaveCardDatabase(QIODevice& Stream, const TRfidTags& Tags, const TCardDatabaseHeader& Header)
{
    char Head[CardDatabaseHeaderSize] = {};
    std::memcpy(Head, Magic, sizeof Magic);
    Head[4] = char(Header.Master & 0xFF);
    Head[5] = char(Header.DoorMode);
    Head[6] = char(Header.DoorDelay & 0xFF);
    WriteAll(Stream, Head, sizeof Head);
    for (int I = 0; I < Tags.Count(); ++I) {
        const TRfidTag& Tag = Tags.Items(I);
        WriteAll(Stream, reinterpret_cast<const char*>(Tag.Bytes.data()), 5);
        char Length[4];
        qToLittleEndian<qint32>(qint32(Tag.Name.size()), Length);
        WriteAll(Stream, Length, 4);
        WriteAll(Stream, Tag.Name.constData(), Tag.Name.size());
    }
}

TLoadedCardDatabase LoadCardDatabase(QIODevice& Stream)
{
    const QByteArray Head = ReadExactly(Stream, CardDatabaseHeaderSize);
    if (std::memcmp(Head.constData(), Magic, sizeof Magic) != 0)
        throw Exception("The file you selected is not a valid database file.");
    TLoadedCardDatabase Result;
    Result.Master = uint8_t(Head[4]);
    while (!AtEnd(Stream))
        ReadRecord(Stream, Result.Tags.Add());
    return Result;
}

void SaveCardDatabaseFile(const QString& FileName, const TRfidTags& Tags,
                          const TCardDatabaseHeader& Header)
{
    const QFileInfo Target(FileName);
    if (Target.isDir())
        CannotCreate(FileName, SystemText(EISDIR));
    // Replacing by rename would get past a file the user made read-only.
    if (Target.exists() && !Target.isWritable())
        CannotCreate(FileName, SystemText(EACCES));
    QSaveFile File(FileName);
    // A folder that refuses the temporary file still lets us write a file in it that we may
    // write: then the file is written in place.
    File.setDirectWriteFallback(true);
    errno = 0;
    if (!File.open(QIODevice::WriteOnly)) {
        const int Error = errno;
        CannotCreate(FileName, Error > 0 ? SystemText(Error) : File.errorString());
    }
    try {
        SaveCardDatabase(File, Tags, Header);
    } catch (...) {
        File.cancelWriting();
        throw;
    }
    // commit() can report success after a short final write; flushing first makes a full disk
    // an error while the old file is still in place.
    if (!File.flush()) {
        File.cancelWriting();
        throw Exception("Stream write error");
    }
    if (!File.commit())
        throw Exception("Stream write error");
}

TLoadedCardDatabase LoadCardDatabaseFile(const QString& FileName)
{
    QFile File(FileName);
    if (QFileInfo(FileName).isDir())
        throw Exception(Format("Cannot open file \"%s\". %s", FullPath(FileName).toUtf8().constData(),
                               SystemText(EISDIR).toUtf8().constData()));
    errno = 0;
    if (!File.open(QIODevice::ReadOnly)) {
        const int Error = errno;
        const QString Why = Error > 0 ? SystemText(Error) : File.errorString();
        throw Exception(Format("Cannot open file \"%s\". %s", FullPath(FileName).toUtf8().constData(),
                               Why.toUtf8().constData()));
    }
    return LoadCardDatabase(File);
}
