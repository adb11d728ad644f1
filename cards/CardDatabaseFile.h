#pragma once

#include "cards/RfidTags.h"

#include <QString>

#include <cstdint>

class QIODevice;

// The .tdb card database file: a 24-byte header ("TDBF", master index, door mode, door delay,
// 17 reserved zero bytes) followed by one record per card (five bytes, a little-endian signed
// 32-bit name length, the name's bytes).

struct TCardDatabaseHeader
{
    uint32_t Master = 0;   // only the low 8 bits are stored
    uint8_t DoorMode = 0;  // the ordinal of the door mode
    int32_t DoorDelay = 0; // only the low 8 bits are stored
};

// What a load hands back: a complete new list and the master index of the file. The door bytes
// of a file are not applied by a load, so they are not returned.
struct TLoadedCardDatabase
{
    TRfidTags Tags;
    uint32_t Master = 0;
};

constexpr int CardDatabaseHeaderSize = 24;

// Writes the header and every card from the stream's position on. Raises "Stream write error"
// when a write transfers fewer bytes than asked.
void SaveCardDatabase(QIODevice& Stream, const TRfidTags& Tags, const TCardDatabaseHeader& Header);

// Reads from the stream's position to its end. All or nothing: on failure it raises and the
// caller's state was never touched, because the result only exists on success.
TLoadedCardDatabase LoadCardDatabase(QIODevice& Stream);

// Saves through a temporary file beside the target that replaces it only when every byte is
// written, so a failed save leaves an existing file exactly as it was.
void SaveCardDatabaseFile(const QString& FileName, const TRfidTags& Tags,
                          const TCardDatabaseHeader& Header);

TLoadedCardDatabase LoadCardDatabaseFile(const QString& FileName);
