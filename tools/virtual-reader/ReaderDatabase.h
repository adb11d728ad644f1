#pragma once

#include "sim/SimReader.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>
#include <vector>

// What the virtual reader holds, plus the names that a card database file gave its cards (the
// reader itself keeps no names; they are carried along so that a save does not lose them).
struct TReaderDatabase
{
    std::vector<sim::CardBytes> Cards;
    uint8_t Master = 0;
    uint8_t DoorMode = 0;
    uint8_t DoorDelay = 5;
    std::map<uint32_t, QByteArray> Names; // by card value
};

TReaderDatabase SampleDatabase();

// Raise the card database file's errors (Exception) unchanged.
TReaderDatabase LoadReaderDatabase(const QString& FileName);
void SaveReaderDatabase(const QString& FileName, const TReaderDatabase& Database);

void PutInto(sim::SimReader& Reader, const TReaderDatabase& Database);
// The reader's state now, keeping the names known before.
TReaderDatabase TakeFrom(const sim::SimReader& Reader, std::map<uint32_t, QByteArray> Names);

uint32_t CardValue(const sim::CardBytes& Card);
