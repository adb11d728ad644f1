#pragma once

#include "sim/SimFrames.h"

#include <array>
#include <cstdint>
#include <vector>

namespace sim {

using CardBytes = std::array<uint8_t, 5>;

// The reader's memory and its answers to the program's frames. No I/O and no locking: the
// owner serialises access.
class SimReaderState
{
public:
    std::vector<CardBytes> Cards;
    uint8_t Master = 0;
    uint8_t DoorMode = 0;
    uint8_t DoorDelay = 5;

    // Applies a received frame and returns the frames the reader sends back, in order.
    std::vector<Frame> Answer(const Frame& Received);

private:
    std::vector<Frame> SendDatabase() const;

    // A write collects here and replaces the cards only when it ends with frame 9.
    std::vector<CardBytes> FIncoming;
    uint8_t FIncomingMaster = 0;
    bool FWriting = false;
};

} // namespace sim
