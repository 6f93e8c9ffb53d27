#pragma once

#include <cstdint>
#include <optional>

// A local date-time as the system date-time record holds it: 16-bit fields,
// day of week and milliseconds always 0 and therefore not kept.
struct LocalDateTime {
    std::uint16_t year;
    std::uint16_t month;
    std::uint16_t day;
    std::uint16_t hour;
    std::uint16_t minute;
    std::uint16_t second;
};

// Takes a date number YYYYMMDDhhmmss apart, truncating at every step so a
// fraction is dropped. Gives nothing when the number does not name a real
// date-time between 1601 and 9999 (Windows file times begin in 1601).
std::optional<LocalDateTime> TakeDateNumberApart(double x);

// True when the fields name a date-time that exists in the proleptic
// Gregorian calendar within 1601..9999.
bool IsValidDateTime(const LocalDateTime& t);
