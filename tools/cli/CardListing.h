#pragma once

#include "cards/RfidTags.h"

#include <QString>

#include <cstdint>
#include <optional>

// The card list as `show` prints it: ID from 1, card number text, name, master.

enum class ListingFormat { Table, Csv, Json };

std::optional<ListingFormat> ListingFormatNamed(const QString& Name);

QString CardListing(const TRfidTags& Tags, uint32_t Master, ListingFormat Format);
