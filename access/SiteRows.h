#pragma once

#include "access/SiteList.h"

#include <QString>
#include <QStringList>

#include <vector>

// A site list as the cells of its CSV file: what is written back, and what the page's edits
// change, each field as a person would type it into the spreadsheet. Written, the rows read back
// (ReadSiteCsv) as the list they came from: a name a spreadsheet would run as a formula is
// guarded by CsvLine and unguarded by CardColumnsOf, dates are written in the form the reader
// reads (2026-12-31, 2026-12-31 18:00), a cell is yes, empty or a schedule's name.

struct TSiteRow
{
    QString Card;   // the card value in decimal
    QString Name;
    QString Master; // "yes" or empty
    QString From;
    QString Until;
    QStringList Cells; // one per TSiteRows::Doors
};

struct TSiteRows
{
    QStringList Doors; // the door columns' ids; empty: every card for every door
    std::vector<TSiteRow> Rows;
    QStringList EveryDoor; // the doors that take their cards from the list (for one without door columns)

    // Gives every door in Ids a column, where it has none, holding what the list gave each card
    // there before: no card but the master. A list without door columns first gets a column for
    // each of EveryDoor, each card's cell yes (the master's stays empty).
    void AddDoors(const QStringList& Ids);
};

// Site's cards in its order, the master marked "yes" when the list names it.
TSiteRows SiteRows(const TSiteList& Site);

// The CSV text: the header card,name,master,from,until and the door columns, then a line per
// row, each through CsvLine.
QString SiteCsvText(const TSiteRows& Rows);
inline QString SiteCsvText(const TSiteList& Site) { return SiteCsvText(SiteRows(Site)); }
