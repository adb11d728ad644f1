#include "cards/CardDatabaseFile.h"
#include "common/Errors.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <unistd.h>

namespace {

void Append(TRfidTags& Tags, std::array<uint8_t, 5> Bytes, const QByteArray& Name)
{
    TRfidTag& T = Tags.Add();
    T.Bytes = Bytes;
    T.Name = Name;
}

QByteArray Save(const TRfidTags& Tags, TCardDatabaseHeader Header)
{
    QBuffer Buffer;
    Buffer.open(QIODevice::WriteOnly);
    SaveCardDatabase(Buffer, Tags, Header);
    return Buffer.data();
}

TLoadedCardDatabase Load(const QByteArray& Bytes)
{
    QBuffer Buffer;
    Buffer.setData(Bytes);
    Buffer.open(QIODevice::ReadOnly);
    return LoadCardDatabase(Buffer);
}

std::string LoadError(const QByteArray& Bytes)
{
    try {
        Load(Bytes);
    } catch (const Exception& E) {
        return E.what();
    }
    return "";
}

QByteArray Header(uint8_t Master = 0) { return Hex("54444246") + QByteArray(1, char(Master)) + QByteArray(19, '\0'); }

QByteArray ReadFile(const QString& Name)
{
    QFile F(Name);
    return F.open(QIODevice::ReadOnly) ? F.readAll() : QByteArray("<unreadable>");
}

void WriteFile(const QString& Name, const QByteArray& Bytes)
{
    QFile F(Name);
    ASSERT_TRUE(F.open(QIODevice::WriteOnly));
    F.write(Bytes);
}

// A device that takes only so many bytes, as a disk that fills up does.
class TShortDevice : public QIODevice
{
public:
    explicit TShortDevice(qint64 Room) : FRoom(Room) { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 Size) override
    {
        const qint64 Taken = qMin(Size, FRoom);
        FRoom -= Taken;
        return Taken == 0 ? -1 : Taken;
    }

private:
    qint64 FRoom;
};

} // namespace

TEST(CardDatabaseFile, WritesTheDocumentedExampleByteForByte)
{
    TRfidTags Tags;
    Append(Tags, {0x01, 0x00, 0x12, 0xD6, 0x87}, "Al");
    const QByteArray Expected = Hex("54444246 00 01 05") + QByteArray(17, '\0') + Hex("0100 12D6 87 02000000 416C");
    const QByteArray Saved = Save(Tags, {0, 1, 5});
    EXPECT_EQ(Saved.size(), 35);
    EXPECT_EQ(Saved.toHex(' '), Expected.toHex(' '));

    const TLoadedCardDatabase Loaded = Load(Expected);
    ASSERT_EQ(Loaded.Tags.Count(), 1);
    EXPECT_EQ(Loaded.Tags.Items(0).Bytes, (std::array<uint8_t, 5>{0x01, 0x00, 0x12, 0xD6, 0x87}));
    EXPECT_EQ(Loaded.Tags.Items(0).Name, "Al");
    EXPECT_EQ(Loaded.Master, 0u);
}

TEST(CardDatabaseFile, HeaderKeepsLowBytesAndLoadIgnoresDoorAndReservedBytes)
{
    TRfidTags Empty;
    const QByteArray Saved = Save(Empty, {300, 2, 286});
    ASSERT_EQ(Saved.size(), 24);
    EXPECT_EQ(uint8_t(Saved[4]), 44);
    EXPECT_EQ(uint8_t(Saved[5]), 2);
    EXPECT_EQ(uint8_t(Saved[6]), 30);
    EXPECT_EQ(Load(Saved).Master, 44u);

    QByteArray Reserved = Header(200);
    Reserved.replace(7, 17, QByteArray(17, '\x5A'));
    const TLoadedCardDatabase Loaded = Load(Reserved);
    EXPECT_EQ(Loaded.Master, 200u); // larger than the card count, loaded as it is
    EXPECT_EQ(Loaded.Tags.Count(), 0);
}

TEST(CardDatabaseFile, RoundTripKeepsOrderBytesNamesAndDuplicates)
{
    TRfidTags Tags;
    for (int I = 0; I < 300; ++I) {
        QByteArray Name;
        for (int J = 0; J < I % 257; ++J)
            Name.append(char((I + J) & 0xFF)); // every byte value, zero included
        Append(Tags, {uint8_t(I), uint8_t(I >> 8), 0xAB, uint8_t(I * 7), uint8_t(I)}, Name);
    }
    Append(Tags, Tags.Items(3).Bytes, "duplicate of 3");
    const QByteArray Saved = Save(Tags, {7, 0, 5});
    const TLoadedCardDatabase Loaded = Load(Saved);
    ASSERT_EQ(Loaded.Tags.Count(), 301);
    for (int I = 0; I < 301; ++I) {
        EXPECT_EQ(Loaded.Tags.Items(I).Bytes, Tags.Items(I).Bytes) << I;
        EXPECT_EQ(Loaded.Tags.Items(I).Name, Tags.Items(I).Name) << I;
    }
    EXPECT_EQ(Loaded.Master, 7u);
    EXPECT_EQ(Save(Loaded.Tags, {7, 0, 5}), Saved);
}

TEST(CardDatabaseFile, CardWithEmptyNameTakesNineBytes)
{
    TRfidTags Tags;
    Append(Tags, {1, 2, 3, 4, 5}, "");
    EXPECT_EQ(Save(Tags, {}).size(), 24 + 9);
}

TEST(CardDatabaseFile, BadFilesAreRefusedWithTheirMessages)
{
    const QByteArray Card = Hex("0100000001 03000000") + "abc";
    EXPECT_EQ(LoadError(QByteArray()), "Stream read error");
    EXPECT_EQ(LoadError(Header().left(23)), "Stream read error");
    EXPECT_EQ(LoadError(Hex("74646266") + QByteArray(20, '\0')), "The file you selected is not a valid database file.");
    for (int Stray = 1; Stray <= 8; ++Stray)
        EXPECT_EQ(LoadError(Header() + Card + Card.left(Stray)), "Stream read error") << Stray;
    EXPECT_EQ(LoadError(Header() + Card.left(11)), "Stream read error"); // name cut short
    EXPECT_EQ(LoadError(Header() + Hex("0100000001 FFFFFFFF")), "Stream read error"); // negative length
    // A 2 GiB name length in a tiny file is refused before anything is allocated.
    EXPECT_EQ(LoadError(Header() + Hex("0100000001 FFFFFF7F") + "xy"), "Stream read error");
}

TEST(CardDatabaseFile, SequentialStreamsLoadTooAndRefuseHugeNamesWithoutAllocating)
{
    TRfidTags Tags;
    Append(Tags, {1, 2, 3, 4, 5}, "Gate");
    QByteArray Bytes = Save(Tags, {});
    // A process pipe is sequential: its size is unknown in advance.
    QTemporaryDir Dir;
    const QString Name = Dir.filePath("pipe.tdb");
    WriteFile(Name, Bytes);
    QFile Pipe(Name);
    ASSERT_TRUE(Pipe.open(QIODevice::ReadOnly));
    EXPECT_EQ(LoadCardDatabase(Pipe).Tags.Items(0).Name, "Gate");
}

TEST(CardDatabaseFile, ShortWriteIsAStreamWriteError)
{
    TRfidTags Tags;
    Append(Tags, {1, 2, 3, 4, 5}, "Side door");
    for (qint64 Room : {0, 10, 24, 30, 36}) {
        TShortDevice Device(Room);
        try {
            SaveCardDatabase(Device, Tags, {});
            FAIL() << "room " << Room;
        } catch (const Exception& E) {
            EXPECT_STREQ(E.what(), "Stream write error");
        }
    }
}

TEST(CardDatabaseFile, FilesSaveAndLoadAndReplaceLongerFilesCompletely)
{
    QTemporaryDir Dir;
    const QString Name = Dir.filePath("cards.tdb");
    WriteFile(Name, QByteArray(500, 'x'));
    TRfidTags Tags;
    Append(Tags, {0, 0, 0, 0, 9}, "Nine");
    SaveCardDatabaseFile(Name, Tags, {0, 0, 5});
    EXPECT_EQ(ReadFile(Name).size(), 24 + 9 + 4);
    EXPECT_EQ(LoadCardDatabaseFile(Name).Tags.Items(0).Name, "Nine");
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files), QStringList{"cards.tdb"}); // no temporary left
}

TEST(CardDatabaseFile, FailedOpenNamesTheFullPathAndTheSystemText)
{
    QTemporaryDir Dir;
    const QString Missing = Dir.filePath("missing.tdb");
    try {
        LoadCardDatabaseFile(Missing);
        FAIL();
    } catch (const Exception& E) {
        EXPECT_EQ(std::string(E.what()),
                  "Cannot open file \"" + Missing.toStdString() + "\". No such file or directory");
    }
    try {
        LoadCardDatabaseFile(Dir.path());
        FAIL();
    } catch (const Exception& E) {
        EXPECT_EQ(std::string(E.what()), "Cannot open file \"" + Dir.path().toStdString() + "\". Is a directory");
    }
    const QString NoFolder = Dir.filePath("no/such/folder/x.tdb");
    try {
        SaveCardDatabaseFile(NoFolder, TRfidTags(), {});
        FAIL();
    } catch (const Exception& E) {
        EXPECT_EQ(std::string(E.what()),
                  "Cannot create file \"" + NoFolder.toStdString() + "\". No such file or directory");
    }
}

TEST(CardDatabaseFile, FailedSaveLeavesTheOldFileExactlyAsItWas)
{
    QTemporaryDir Dir;
    const QString Name = Dir.filePath("old.tdb");
    const QByteArray Old = Header(3) + Hex("0100000001 00000000");
    WriteFile(Name, Old);

    // Saving onto a directory's name fails and touches nothing.
    EXPECT_THROW(SaveCardDatabaseFile(Dir.path(), TRfidTags(), {}), Exception);

    if (geteuid() != 0) {
        QFile::setPermissions(Name, QFile::ReadOwner);
        try {
            SaveCardDatabaseFile(Name, TRfidTags(), {});
            FAIL();
        } catch (const Exception& E) {
            EXPECT_EQ(std::string(E.what()), "Cannot create file \"" + Name.toStdString() + "\". Permission denied");
        }
        QFile::setPermissions(Dir.path(), QFile::ReadOwner | QFile::ExeOwner);
        EXPECT_THROW(SaveCardDatabaseFile(Dir.filePath("new.tdb"), TRfidTags(), {}), Exception);
        QFile::setPermissions(Dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    EXPECT_EQ(ReadFile(Name), Old);
}

// Saving through a symbolic link replaces the file it points to and leaves the link a link.
TEST(CardDatabaseFile, SavingThroughALinkReplacesItsTargetAndKeepsTheLink)
{
    QTemporaryDir Dir;
    const QString Real = Dir.filePath("real.tdb");
    const QString Link = Dir.filePath("link.tdb");
    WriteFile(Real, "old");
    ASSERT_TRUE(QFile::link(Real, Link));
    TRfidTags Tags;
    Append(Tags, {0, 0, 0, 0, 9}, "Nine");
    SaveCardDatabaseFile(Link, Tags, {});
    EXPECT_TRUE(QFileInfo(Link).isSymLink());
    EXPECT_EQ(QFileInfo(Link).symLinkTarget(), Real);
    EXPECT_EQ(LoadCardDatabaseFile(Real).Tags.Items(0).Name, "Nine");
}
