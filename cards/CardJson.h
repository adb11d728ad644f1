#pragma once

#include "cards/RfidTags.h"

#include <QJsonArray>

#include <cstdint>

// A card list as JSON, the shape dorvik-cli show --format json prints and the message bus
// carries: [{"id": 1, "cardNumber": "...", "value": N, "name": "...", "master": bool}, ...],
// id counting from 1.
QJsonArray CardsJson(const TRfidTags& Tags, uint32_t Master);

// The cards of such an array, for writing to a reader. A card is given by value, cardNumber or
// bytes (the five bytes in hex, byte 0 first; without them byte 0 is 0), several of them only
// when they agree; id is not read. Master is the index of the one card marked master (0 when
// none is). Raises Exception naming the card that is wrong.
struct TJsonCards
{
    TRfidTags Tags;
    int Master = -1; // -1: no card says it is the master
};
TJsonCards CardsFromJson(const QJsonArray& Cards);
