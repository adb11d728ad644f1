#pragma once

#include "access/LocalMoment.h"
#include "cards/RfidTags.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The site list: every card of a site, with when and where each may enter. From a CSV file
//
//   card,name,master,from,until,front-door,store
//   1234567,Ann,yes,,,,
//   2345678,Dana,,,2026-12-31,cleaners,yes
//
// (card, name and master as dorvik-cli import reads them; then, optional, from and until in the
// site's time zone, an until that is a day lasting through that day; then a column per door,
// headed by its id, whose cell is yes, empty or no, or a schedule's name; no door columns: every
// card for every door) or from a .tdb card database file (every card for every door, always).

struct TDoorCell
{
    enum TKind : uint8_t { No, Yes, Scheduled };
    TKind Kind = No;
    QString Schedule; // when Scheduled

    bool operator==(const TDoorCell&) const = default;
};

struct TSiteCard
{
    TRfidTag Tag; // identity is the card value (bytes 1 to 4)
    int Line = 0; // where the file has it; 0 for a .tdb file
    std::optional<TLocalMoment> From;  // none: no bound
    std::optional<TLocalMoment> Until; // a day: through its end; a time: up to it
    std::vector<TDoorCell> Cells;      // one per TSiteList::Doors
};

struct TSiteList
{
    QString FileName;
    int HeaderLine = 0;      // the header's line (the door columns); 0 for a .tdb file
    QStringList Doors;       // the door columns' ids; empty: every card for every door
    std::vector<TSiteCard> Cards;
    int Master = -1;         // the master card's index in Cards; -1 when there are no cards
    bool MasterMarked = false; // a row (or the .tdb file) names the master; else it is the first card
};

// What is wrong with a site list, at a line of its file ("site.csv:7: text").
struct TSiteProblem
{
    int Line = 0;
    QString Text;

    bool operator==(const TSiteProblem&) const = default;
};

struct TSiteRead
{
    TSiteList Site;
    std::vector<TSiteProblem> Problems; // a row with a problem is left out of Site
};

// Reads a site list from CSV text. Never raises: every fault the file alone shows (its CSV, its
// header, a card, a bad date, until before from, two masters, a card twice, a master card with
// rules of its own) is a problem, and reading goes on with the next row where it can.
TSiteRead ReadSiteCsv(const QString& FileName, const QString& Text);

// A door's cell as the file holds it: yes, empty or no, or a schedule's name; none for any other
// text. DoorCellText gives the cell's text back ("yes", "" or the schedule's name).
std::optional<TDoorCell> DoorCellFromText(const QString& Text);
QString DoorCellText(const TDoorCell& Cell);

// Reads the site list of a .csv file (by its name's ending) or a .tdb file. Raises Exception when
// the file cannot be read or a .tdb file is not one; the faults of a CSV file are problems.
TSiteRead ReadSiteFile(const QString& FileName);
// The same of Content, the file's bytes as read by its caller (a watch that follows it).
TSiteRead ReadSiteContent(const QString& FileName, const QByteArray& Content);

// "FILE:LINE: text" (for a problem of no line, "FILE: text"), one line each.
QString ProblemLines(const QString& FileName, const std::vector<TSiteProblem>& Problems);
