#pragma once

#include <cstdint>

// How the reader drives the door lock. The ordinal travels on the wire and in the card database
// file, so the order is fixed.
enum TDoorMode : uint8_t { dmLockUnlock, dmMomentary, dmUnlockTimed };
