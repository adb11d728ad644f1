#pragma once

#include "log/SwipeRecord.h"

#include <QString>

// Swipes as comma-separated values, the same for every program that writes them: UTC time with
// milliseconds and every field of SwipeJson. Each line ends with CRLF.
QString SwipeCsvHeader();
QString SwipeCsvLine(const TSwipeRecord& Swipe);
