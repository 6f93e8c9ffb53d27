#include "date_number.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && IsLeapYear(year))
        return 29;
    return days[month - 1];
}

} // namespace

bool IsValidDateTime(const LocalDateTime& t)
{
    if (t.year < 1601 || t.year > 9999)
        return false;
    if (t.month < 1 || t.month > 12)
        return false;
    if (t.day < 1 || t.day > DaysInMonth(t.year, t.month))
        return false;
    return t.hour <= 23 && t.minute <= 59 && t.second <= 59;
}

std::optional<LocalDateTime> TakeDateNumberApart(double x)
{
    // Every double-to-integer conversion below is checked first: out of range
    // it would be undefined, and such a number is no date anyway.
    if (!std::isfinite(x) || x < 0.0)
        return std::nullopt;

    const double yearPart = std::trunc(x * 1e-10);
    if (yearPart < 1601.0 || yearPart > 9999.0)
        return std::nullopt;
    const auto year = static_cast<std::uint16_t>(yearPart);

    const double restPart = std::trunc(x - static_cast<double>(year) * 1e10);
    if (restPart < 0.0 || restPart > static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
    std::int32_t rest = static_cast<std::int32_t>(restPart);

    const std::int32_t month = rest / 100000000;
    rest %= 100000000;
    const std::int32_t day = rest / 1000000;
    rest %= 1000000;
    const std::int32_t hour = rest / 10000;
    rest %= 10000;
    const std::int32_t minute = rest / 100;
    const std::int32_t second = rest % 100;

    // rest is below 2^31, so month is at most 21 and every field fits.
    const LocalDateTime t{year,
                          static_cast<std::uint16_t>(month),
                          static_cast<std::uint16_t>(day),
                          static_cast<std::uint16_t>(hour),
                          static_cast<std::uint16_t>(minute),
                          static_cast<std::uint16_t>(second)};
    if (!IsValidDateTime(t))
        return std::nullopt;
    return t;
}
