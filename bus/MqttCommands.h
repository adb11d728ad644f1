#pragma once

#include "cards/RfidTags.h"
#include "reader/DoorMode.h"

#include <QByteArray>
#include <QJsonObject>

#include <cstdint>
#include <optional>

// Commands that arrive on the message bus, checked before anything is done with them. Each
// parser raises Exception saying what is wrong; nothing is changed for a command that fails.

// The message as a JSON object; raises for anything else.
QJsonObject CommandObject(const QByteArray& Payload);

// set/door: {"id": ..., "mode": "lock-unlock|momentary|timed", "delay": 1..255}, either or both.
struct TDoorCommand
{
    std::optional<TDoorMode> Mode;
    std::optional<uint8_t> Delay;
};
TDoorCommand DoorCommandFrom(const QJsonObject& Command);

// set/cards: {"id": ..., "cards": [as dorvik-cli show --format json], "master": id}. The master
// is the card marked "master": true or the card whose id (from 1) "master" gives; the first
// card when neither says.
struct TCardsCommand
{
    TRfidTags Cards;
    uint32_t Master = 0;
};
TCardsCommand CardsCommandFrom(const QJsonObject& Command);
