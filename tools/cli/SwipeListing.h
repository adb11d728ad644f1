#pragma once

#include "tools/cli/CardListing.h"

#include "log/ChangeRecord.h"
#include "log/LogQuery.h"

#include <vector>

#include <QString>

class TAccessLog;

// Prints the swipes Query picks as `log` prints them: the table in local time; CSV and JSON in
// UTC with every field of SwipeJson. Rows are read and printed a few hundred at a time, so a
// listing of the whole log needs no more memory than a short one (the table reads its rows
// twice: once for the widths of its columns). Returns what is wrong, empty when all went out.
QString PrintSwipeListing(const TAccessLog& Log, const TLogQuery& Query, ListingFormat Format);

// The changes made through the agent's page, as `log --changes` prints them.
QString ChangeListing(const std::vector<TChangeRecord>& Changes, ListingFormat Format);
