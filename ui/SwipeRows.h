#pragma once

#include "log/LogQuery.h"
#include "log/SwipeRecord.h"

#include <QString>

#include <functional>

class TAccessLog;

// Runs Statement on Log's connection and hands each row to Take, which returns false to stop.
// Returns what is wrong in the log's own words; empty when every row was read.
QString ForEachSwipe(const TAccessLog& Log, const TLogStatement& Statement,
                     const std::function<bool(const TSwipeRecord&)>& Take);
