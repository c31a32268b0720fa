#pragma once
// Wall-clock time and its breakdown into calendar fields, in local time or UTC.
//
// Local time follows the process's time zone as it stands at each call: the TZ
// environment variable is read again every time, so a test may set TZ and see
// the new zone at once.

#include <chrono>
#include <optional>

namespace vesk2::platform {

using TimePoint = std::chrono::system_clock::time_point;

// A calendar date and time of day. month 1..12, day 1..31, hour 0..23,
// minute 0..59, second 0..60, millisecond 0..999.
struct DateTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;

    bool operator==(const DateTime&) const = default;
};

// The current time.
TimePoint now();

// `time` in the local time zone (TZ honoured). Times before 1970 are handled.
DateTime localTime(TimePoint time);

// `time` in UTC.
DateTime utcTime(TimePoint time);

// The time point of a local date and time (daylight saving decided by the zone);
// nullopt when the fields cannot be represented.
std::optional<TimePoint> fromLocalTime(const DateTime& local);

// The time point of a UTC date and time; nullopt when it cannot be represented.
std::optional<TimePoint> fromUtcTime(const DateTime& utc);

} // namespace vesk2::platform
