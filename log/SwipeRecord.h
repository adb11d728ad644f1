#pragma once

#include "cards/RfidTags.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>

// One swipe as the log keeps it. Name and Known are what the card list said at that moment.
struct TSwipeRecord
{
    qint64 Id = 0; // given by the log when the row is written; 0 before
    QDateTime Time; // UTC, to the millisecond
    QString Door;       // the door's name as it was then
    std::array<uint8_t, 5> Bytes{};
    QString CardNumber; // TRfidTag::CardNumber() of the bytes
    QString Name;       // as text; empty when the list did not hold the card
    bool Known = false; // whether the list held the card
    QString DoorId;     // the agent's id of the door (its section); empty elsewhere
    QString Reason;     // why the agent's rules do not admit the card now; empty elsewhere
};

// A swipe of Card at Door now, named from List when it holds the card (List may be null).
TSwipeRecord MakeSwipeRecord(const TRfidTag& Card, const QString& Door, const TRfidTags* List);

// The value of bytes 1 to 4, as TRfidTag::CardValue() reads them.
uint32_t SwipeCardValue(const TSwipeRecord& Swipe);
