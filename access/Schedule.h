#pragma once

#include <QMap>
#include <QString>

#include <array>
#include <vector>

// A named weekly schedule from the agent's configuration:
//
//   [schedule office]
//   mon-fri = 08:00-12:30, 13:30-18:00
//   sat = 09:00-12:00
//
// Keys are days (mon ... sun) or ranges of days (mon-fri; a range may wrap past Sunday, fri-mon
// is Friday to Monday); a day named by several keys has the periods of each. Values are periods
// HH:MM-HH:MM separated by commas. A period whose end is not after its start runs past midnight
// and belongs to the day it starts on (sat = 22:00-06:00 is Saturday night); 24:00 ends a day.

struct TPeriod
{
    int Start = 0; // minutes from the start of its day, 0 to 1439
    int End = 0;   // after Start, at most a day later (past midnight: above 1440)

    bool operator==(const TPeriod&) const = default;
};

struct TSchedule
{
    QString Name;
    int Line = 0; // the line of its [schedule NAME]
    std::array<std::vector<TPeriod>, 7> Days; // Monday first

    bool operator==(const TSchedule&) const = default;
};

// A key's value and the line it stands on.
struct TConfigValue
{
    QString Value;
    int Line = 0;
};

// Whether Name may name a schedule: letters, digits, '-' and '_'.
bool IsScheduleName(const QString& Name);

// The schedule of a [schedule Name] section at Line with these keys. Raises ELineFault naming the
// key's line and the key for a key that is not a day or a range of days, a value that is not a
// list of periods, and a section without keys.
TSchedule ParseSchedule(const QString& Name, int Line, const QMap<QString, TConfigValue>& Keys);
