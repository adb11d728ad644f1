#pragma once

#include "cards/CardDatabaseFile.h"

#include <QString>

// The card list as a spreadsheet edits it: a header `card,name,master`, then one row per card
// with the card value in decimal, the name, and "yes" in the master card's row.
// Byte 0 of a card does not travel: an imported card gets 0 there.

QString CardsToCsv(const TRfidTags& Tags, uint32_t Master);

// Raises Exception naming the line of the first bad row. A file without a master row gives
// master index 0.
TLoadedCardDatabase CardsFromCsv(const QString& Text);
