#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace vesk2::platform {

namespace {

using std::chrono::duration_cast;
using std::chrono::floor;
using std::chrono::milliseconds;
using std::chrono::seconds;

// Whole seconds (rounded down, also before 1970) and the milliseconds within.
void split(TimePoint time, std::time_t& wholeSeconds, int& millis)
{
    const auto secs = floor<seconds>(time);
    wholeSeconds = static_cast<std::time_t>(secs.time_since_epoch().count());
    millis = static_cast<int>(duration_cast<milliseconds>(time - secs).count());
}

DateTime fromTm(const std::tm& fields, int millis)
{
    DateTime out;
    out.year = fields.tm_year + 1900;
    out.month = fields.tm_mon + 1;
    out.day = fields.tm_mday;
    out.hour = fields.tm_hour;
    out.minute = fields.tm_min;
    out.second = fields.tm_sec;
    out.millisecond = millis;
    return out;
}

std::tm toTm(const DateTime& in)
{
    std::tm fields{};
    fields.tm_year = in.year - 1900;
    fields.tm_mon = in.month - 1;
    fields.tm_mday = in.day;
    fields.tm_hour = in.hour;
    fields.tm_min = in.minute;
    fields.tm_sec = in.second;
    fields.tm_isdst = -1;
    return fields;
}

TimePoint makeTimePoint(std::time_t wholeSeconds, int millis)
{
    return TimePoint(duration_cast<TimePoint::duration>(seconds(wholeSeconds) + milliseconds(millis)));
}

} // namespace

TimePoint now() { return std::chrono::system_clock::now(); }

DateTime localTime(TimePoint time)
{
    std::time_t wholeSeconds = 0;
    int millis = 0;
    split(time, wholeSeconds, millis);
    // localtime_r does not have to look at TZ again; tzset makes it.
    ::tzset();
    std::tm fields{};
    if (::localtime_r(&wholeSeconds, &fields) == nullptr) {
        return {};
    }
    return fromTm(fields, millis);
}

DateTime utcTime(TimePoint time)
{
    std::time_t wholeSeconds = 0;
    int millis = 0;
    split(time, wholeSeconds, millis);
    std::tm fields{};
    if (::gmtime_r(&wholeSeconds, &fields) == nullptr) {
        return {};
    }
    return fromTm(fields, millis);
}

std::optional<TimePoint> fromLocalTime(const DateTime& local)
{
    ::tzset();
    std::tm fields = toTm(local);
    errno = 0;
    const std::time_t wholeSeconds = std::mktime(&fields);
    // -1 is also one second before 1970; only errno tells a failure.
    if (wholeSeconds == static_cast<std::time_t>(-1) && errno != 0) {
        return std::nullopt;
    }
    return makeTimePoint(wholeSeconds, local.millisecond);
}

std::optional<TimePoint> fromUtcTime(const DateTime& utc)
{
    std::tm fields = toTm(utc);
    fields.tm_isdst = 0;
    errno = 0;
    const std::time_t wholeSeconds = ::timegm(&fields);
    if (wholeSeconds == static_cast<std::time_t>(-1) && errno != 0) {
        return std::nullopt;
    }
    return makeTimePoint(wholeSeconds, utc.millisecond);
}

} // namespace vesk2::platform
