#pragma once

#include <chrono>

namespace pellux {

// Wall-clock instants with sub-second precision, the form every record and timer uses.
using Seconds = std::chrono::duration<double>;
using TimePoint = std::chrono::time_point<std::chrono::system_clock, Seconds>;

// Seconds between the Unix epoch and 2001-01-01 00:00:00 UTC, the epoch of the JSON files.
inline constexpr double kReferenceDateOffset = 978307200.0;

inline double secondsSince1970(TimePoint t) { return t.time_since_epoch().count(); }
inline double secondsSince2001(TimePoint t) { return secondsSince1970(t) - kReferenceDateOffset; }
inline TimePoint fromSecondsSince1970(double s) { return TimePoint(Seconds(s)); }
inline TimePoint fromSecondsSince2001(double s) { return TimePoint(Seconds(s + kReferenceDateOffset)); }

// Source of "now" for logic that depends on time, so that tests can move time by hand.
class Clock {
public:
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;

    // The process-wide system clock.
    static Clock &system();
};

} // namespace pellux
