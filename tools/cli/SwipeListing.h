#pragma once

#include "tools/cli/CardListing.h"

#include "log/SwipeRecord.h"

#include <QString>

#include <vector>

// Swipes as `log` prints them: the table in local time; CSV and JSON in UTC with every field of
// SwipeJson.
QString SwipeListing(const std::vector<TSwipeRecord>& Swipes, ListingFormat Format);
