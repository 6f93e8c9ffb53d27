#include "date_number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

void ExpectFields(double x, int year, int month, int day, int hour, int minute, int second)
{
    SCOPED_TRACE(x);
    const auto t = TakeDateNumberApart(x);
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(t->year, year);
    EXPECT_EQ(t->month, month);
    EXPECT_EQ(t->day, day);
    EXPECT_EQ(t->hour, hour);
    EXPECT_EQ(t->minute, minute);
    EXPECT_EQ(t->second, second);
}

} // namespace

TEST(DateNumber, TakesKnownNumbersApart)
{
    ExpectFields(20070315143055.0, 2007, 3, 15, 14, 30, 55);
    ExpectFields(16010101000000.0, 1601, 1, 1, 0, 0, 0);
    ExpectFields(99991231235959.0, 9999, 12, 31, 23, 59, 59);
    ExpectFields(20080229235959.0, 2008, 2, 29, 23, 59, 59);
    ExpectFields(20000229000000.0, 2000, 2, 29, 0, 0, 0);
    ExpectFields(20070430120000.0, 2007, 4, 30, 12, 0, 0);
}

TEST(DateNumber, DropsTheFraction)
{
    ExpectFields(20070315143055.7, 2007, 3, 15, 14, 30, 55);
    ExpectFields(20071231235959.99, 2007, 12, 31, 23, 59, 59);
}

TEST(DateNumber, RefusesNumbersThatNameNoDate)
{
    const double notDates[] = {
        20070015143055.0,   // month 0
        20071315143055.0,   // month 13
        20072101000000.0,   // month 21, rest still fits 32 bits
        20070300143055.0,   // day 0
        20070332143055.0,   // day 32
        20070229120000.0,   // 2007 is no leap year
        19000229120000.0,   // nor is 1900
        20070431120000.0,   // April has 30 days
        20070315240000.0,   // hour 24
        20070315146000.0,   // minute 60
        20070315143060.0,   // second 60
        16001231235959.0,   // before file times begin
        100000101000000.0,  // year 10000
        20079999999999.0,   // rest beyond 32 bits
        0.0,                // text without a number
        -20070315143055.0,
        1e300,
        std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
    };
    for (const double x : notDates)
        EXPECT_FALSE(TakeDateNumberApart(x).has_value()) << x;
}
