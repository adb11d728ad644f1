#pragma once

#include "cards/RfidTags.h"
#include "common/CsvRecords.h"

#include <QStringList>

// The first three columns of a card list kept as a spreadsheet: the card's value in decimal, its
// name, and "yes" in the master card's row. Every reader of such a file (dorvik-cli import, the
// agent's site list) takes these columns through CardColumnsOf, so what one learns about them
// (a spreadsheet's habits, say) all of them learn.

// card, name, master: the header's first three fields.
const QStringList& CardColumnsHeader();

// Whether Fields starts with the header's three fields (in any case, spaces around them allowed).
bool StartsWithCardColumns(const QStringList& Fields);

struct TCardColumns
{
    TRfidTag Tag; // bytes 1 to 4 the card value, byte 0 zero (a spreadsheet never saw it)
    bool Master = false;
};

// The card of Row's first three fields. Raises ELineFault naming Row's line for a card that is
// not a number from 0 to 4294967295 or a master cell that is neither "yes" nor empty.
TCardColumns CardColumnsOf(const TCsvRecord& Row);
