#pragma once

#include "cards/RfidTags.h"
#include "sim/SimReader.h"

#include <cstdint>
#include <vector>

// A card as the simulated reader holds it: Value in bytes 1 to 4, most significant first.
inline sim::CardBytes Card(uint32_t Value, uint8_t Byte0 = 0)
{
    return {Byte0, uint8_t(Value >> 24), uint8_t(Value >> 16), uint8_t(Value >> 8), uint8_t(Value)};
}

// Count different cards, First, First + Step, ...; byte 0 holds the index, so it travels too.
inline std::vector<sim::CardBytes> Cards(int Count, uint32_t First = 1000, uint32_t Step = 7919)
{
    std::vector<sim::CardBytes> Result;
    for (int I = 0; I < Count; ++I)
        Result.push_back(Card(First + uint32_t(I) * Step, uint8_t(I)));
    return Result;
}

// The cards of a list as the simulated reader holds them, to compare the two.
inline std::vector<sim::CardBytes> ListOf(const TRfidTags& Tags)
{
    std::vector<sim::CardBytes> Result;
    for (int I = 0; I < Tags.Count(); ++I)
        Result.push_back(Tags.Items(I).Bytes);
    return Result;
}
