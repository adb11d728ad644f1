#pragma once

#include "sim/SimReader.h"

#include <cstdint>
#include <vector>

// Count different cards for the simulated reader; byte 0 holds the index, so it travels too.
inline std::vector<sim::CardBytes> BenchCards(int Count)
{
    std::vector<sim::CardBytes> Cards;
    for (int I = 0; I < Count; ++I) {
        const uint32_t Value = 1000 + uint32_t(I) * 7919;
        Cards.push_back({uint8_t(I), uint8_t(Value >> 24), uint8_t(Value >> 16), uint8_t(Value >> 8), uint8_t(Value)});
    }
    return Cards;
}
