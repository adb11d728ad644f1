#pragma once

#include "reader/DoorMode.h"

#include <QString>

#include <optional>

// The door modes as programs name them on a command line or a message bus: lock-unlock,
// momentary, timed.
QString DoorModeName(TDoorMode Mode); // "unknown (N)" for a byte that is none of them
std::optional<TDoorMode> DoorModeNamed(const QString& Name);
