#pragma once

#include <QDateTime>
#include <QTimeZone>

#include <functional>
#include <optional>

// The one way time comes into the rules: the system's clock in the agent, a clock the test sets
// in the tests.

enum class TClockSync : uint8_t {
    Synchronized,   // the system keeps the clock to network time
    Unsynchronized, // the system says the clock may be wrong (not yet set since boot, say)
    Unknown,        // the system would not say
};

class TClock
{
public:
    virtual ~TClock() = default;

    // Now, in UTC.
    virtual QDateTime NowUtc() const = 0;
    // The site's time zone.
    virtual QTimeZone Zone() const = 0;
    virtual TClockSync Sync() const = 0;
    // OnAlarm runs once when the wall clock reaches At (at once if it already has), in place of
    // the alarm set before; none: no alarm.
    virtual void SetAlarm(const std::optional<QDateTime>& At) = 0;

    std::function<void()> OnAlarm;
    // The wall clock was set (it jumped): whatever was computed from now is stale. An alarm
    // stays set and still comes when the clock reaches it.
    std::function<void()> OnClockSet;
};
