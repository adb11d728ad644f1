#pragma once

#include "reader/Dorvik.h"

#include <cstdint>
#include <vector>

using CardValues = std::vector<uint32_t>;

CardValues ValuesOf(const TRfidTags& Tags);

// Raises Exception when the reader cannot take this many cards.
void CheckFits(const TRfidTags& Tags);

// What the reader holds now against what was written: same cards (by value), same order, same
// master index as far as a byte carries it. Raises Exception saying what differs.
void Verify(const CardValues& Written, uint8_t WrittenMaster, const TDorvik& Reader);
