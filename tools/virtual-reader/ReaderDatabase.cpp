#include "tools/virtual-reader/ReaderDatabase.h"

#include "cards/CardDatabaseFile.h"

#include <QFile>

namespace {

// A load of the shared file format leaves the door settings out; a reader keeps them, so they
// are read from the header here (offsets 5 and 6).
void ReadDoorSettings(const QString& FileName, TReaderDatabase& Database)
{
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly))
        return;
    const QByteArray Header = File.read(7);
    if (Header.size() == 7) {
        Database.DoorMode = uint8_t(Header[5]);
        Database.DoorDelay = uint8_t(Header[6]);
    }
}

} // namespace

uint32_t CardValue(const sim::CardBytes& Card)
{
    TRfidTag Tag;
    Tag.Bytes = Card;
    return Tag.CardValue();
}

TReaderDatabase SampleDatabase()
{
    TReaderDatabase Database;
    Database.Cards = {{0x01, 0x00, 0x12, 0xD6, 0x87},
                      {0x00, 0x00, 0xBC, 0x61, 0x4E},
                      {0x00, 0x07, 0x5B, 0xCD, 0x15}};
    return Database;
}

TReaderDatabase LoadReaderDatabase(const QString& FileName)
{
    TLoadedCardDatabase Loaded = LoadCardDatabaseFile(FileName);
    TReaderDatabase Database;
    Database.Master = uint8_t(Loaded.Master);
    for (int I = 0; I < Loaded.Tags.Count(); ++I) {
        const TRfidTag& Tag = Loaded.Tags.Items(I);
        Database.Cards.push_back(Tag.Bytes);
        if (!Tag.Name.isEmpty())
            Database.Names[Tag.CardValue()] = Tag.Name;
    }
    ReadDoorSettings(FileName, Database);
    return Database;
}

void SaveReaderDatabase(const QString& FileName, const TReaderDatabase& Database)
{
    TRfidTags Tags;
    for (const sim::CardBytes& Card : Database.Cards) {
        TRfidTag& Tag = Tags.Add();
        Tag.Bytes = Card;
        if (auto Name = Database.Names.find(CardValue(Card)); Name != Database.Names.end())
            Tag.Name = Name->second;
    }
    const TCardDatabaseHeader Header{Database.Master, Database.DoorMode, Database.DoorDelay};
    SaveCardDatabaseFile(FileName, Tags, Header);
}

void PutInto(sim::SimReader& Reader, const TReaderDatabase& Database)
{
    Reader.SetCards(Database.Cards);
    Reader.SetMaster(Database.Master);
    Reader.SetDoor(Database.DoorMode, Database.DoorDelay);
}

TReaderDatabase TakeFrom(const sim::SimReader& Reader, std::map<uint32_t, QByteArray> Names)
{
    TReaderDatabase Database;
    Database.Cards = Reader.Cards();
    Database.Master = Reader.Master();
    Database.DoorMode = Reader.DoorMode();
    Database.DoorDelay = Reader.DoorDelay();
    Database.Names = std::move(Names);
    return Database;
}
