#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace vesk2::platform {
namespace {

// Sets TZ for one test and puts the old value back.
class ClockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char* old = std::getenv("TZ")) {
            m_oldTz = old;
        }
    }
    void TearDown() override
    {
        if (m_oldTz) {
            ::setenv("TZ", m_oldTz->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
    }
    static void useZone(const char* tz) { ::setenv("TZ", tz, 1); }

private:
    std::optional<std::string> m_oldTz;
};

TimePoint utcPoint(int year, int month, int day, int hour, int minute, int second, int millis = 0)
{
    const std::optional<TimePoint> point = fromUtcTime({year, month, day, hour, minute, second, millis});
    EXPECT_TRUE(point.has_value());
    return point.value_or(TimePoint{});
}

TEST_F(ClockTest, UtcBreakdownKeepsMillisecondsAndTimesBefore1970)
{
    EXPECT_EQ(utcTime(TimePoint{}), (DateTime{1970, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(utcTime(TimePoint(std::chrono::milliseconds(-1))), (DateTime{1969, 12, 31, 23, 59, 59, 999}));
    EXPECT_EQ(utcTime(utcPoint(2024, 2, 29, 23, 59, 58, 250)), (DateTime{2024, 2, 29, 23, 59, 58, 250}));
}

TEST_F(ClockTest, LocalTimeFollowsTzChangedAtRunTime)
{
    const TimePoint noonUtcWinter = utcPoint(2024, 1, 15, 12, 0, 0);
    const TimePoint noonUtcSummer = utcPoint(2024, 7, 15, 12, 0, 0);

    useZone("UTC0");
    EXPECT_EQ(localTime(noonUtcWinter).hour, 12);

    useZone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(localTime(noonUtcWinter).hour, 13);
    EXPECT_EQ(localTime(noonUtcSummer).hour, 14);   // daylight time of that date

    useZone("EST5EDT,M3.2.0,M11.1.0");
    EXPECT_EQ(localTime(noonUtcWinter), (DateTime{2024, 1, 15, 7, 0, 0, 0}));
}

TEST_F(ClockTest, FromLocalTimeIsTheInverseOfLocalTime)
{
    useZone("CET-1CEST,M3.5.0,M10.5.0/3");
    const DateTime summer{2024, 7, 1, 9, 30, 15, 500};
    const std::optional<TimePoint> point = fromLocalTime(summer);
    ASSERT_TRUE(point.has_value());
    EXPECT_EQ(localTime(*point), summer);
    EXPECT_EQ(utcTime(*point).hour, 7);
}

} // namespace
} // namespace vesk2::platform
