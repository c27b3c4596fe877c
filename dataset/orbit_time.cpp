// orbit_time.cpp - the orbit start time of a dataset in UTC, and the one
// rule for header fields that make no time.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "header_fields.h"
#include "registry.h"
#include "tidewell.h"

namespace td {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

struct CivilDate {
    int year = 0;
    int month = 0; // 1 to 12
    int day = 0;   // 1 to 31
};

constexpr bool leap_year(int year) noexcept
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
constexpr std::int64_t days_from_civil(int year, int month, int day) noexcept
{
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int year_of_era = y - era * 400;
    const int day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return std::int64_t{era} * 146097 + day_of_era - 719468;
}
static_assert(days_from_civil(1970, 1, 1) == 0 && days_from_civil(2000, 3, 1) == 11017);

// Month and day of the month of a day of the year (1-based, valid).
constexpr CivilDate civil_of_day(int year, int day_of_year) noexcept
{
    constexpr std::array<int, 12> kLengths{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int month = 0;
    for (;;) {
        const int length =
            kLengths[static_cast<std::size_t>(month)] + (month == 1 && leap_year(year) ? 1 : 0);
        if (day_of_year <= length)
            return {year, month + 1, day_of_year};
        day_of_year -= length;
        ++month;
    }
}
static_assert(civil_of_day(2000, 60).month == 2 && civil_of_day(2000, 60).day == 29);

struct OrbitStart {
    std::int64_t seconds = 0;
    int millisecond = -1;
    std::array<char, TD_TIME_TEXT_SIZE> text{};
};

// The header's fields as a time; false when they make none.
bool make_time(int year, int day, int hour_minute, int second, int millisecond, OrbitStart& out)
{
    // Two-digit years, as the time stamp reads them: 0 to 69 are 2000 to
    // 2069, 70 to 99 are 1970 to 1999.  A negative year is no year.
    if (year >= 0 && year < 100)
        year += year < 70 ? 2000 : 1900;
    const int hours = hour_minute / 100;
    const int minutes = hour_minute % 100;
    const bool valid = year >= 100 && year <= 9999 && day >= 1 && day <= (leap_year(year) ? 366 : 365) &&
                       hour_minute >= 0 && hours <= 23 && minutes <= 59 && second >= 0 && second <= 59;
    if (!valid)
        return false;
    const std::int64_t days = days_from_civil(year, 1, 1) + day - 1;
    out.seconds = days * kSecondsPerDay + hours * 3600 + minutes * 60 + second;
    out.millisecond = millisecond >= 0 && millisecond <= 999 ? millisecond : -1;
    const CivilDate date = civil_of_day(year, day);
    int n = std::snprintf(out.text.data(), out.text.size(), "%04d-%02d-%02dT%02d:%02d:%02d", date.year,
                          date.month, date.day, hours, minutes, second);
    if (out.millisecond >= 0)
        n += std::snprintf(out.text.data() + n, out.text.size() - static_cast<std::size_t>(n), ".%03d",
                           out.millisecond);
    std::snprintf(out.text.data() + n, out.text.size() - static_cast<std::size_t>(n), "Z");
    return true;
}

int time_inquire(Dataset& ds, std::int64_t* seconds, int* millisecond, char* text)
{
    std::int16_t year = 0, day = 0, hour_minute = 0, second = 0, ms = -1;
    if (read_field(ds.current, kOffsetOrbitStartYear, year) != 0 ||
        read_field(ds.current, kOffsetOrbitStartDay, day) != 0 ||
        read_field(ds.current, kOffsetOrbitStartHourMinute, hour_minute) != 0 ||
        read_field(ds.current, kOffsetOrbitStartSecond, second) != 0)
        return TD_EREADATT;
    // The milliseconds are a refinement: without them the time stands.
    if (read_field(ds.current, kOffsetOrbitStartMillisecond, ms) != 0)
        ms = -1;
    OrbitStart start;
    if (!make_time(year, day, hour_minute, second, ms, start))
        return TD_EBADATTVAL;
    if (seconds != nullptr)
        *seconds = start.seconds;
    if (millisecond != nullptr)
        *millisecond = start.millisecond;
    if (text != nullptr)
        std::memcpy(text, start.text.data(), std::strlen(start.text.data()) + 1);
    return TD_NOERR;
}

} // namespace

} // namespace td

extern "C" int td_timeinq(int id, int64_t* seconds, int* millisecond, char* text)
{
    return td::with_dataset(
        id, [&](td::Dataset& ds) { return td::time_inquire(ds, seconds, millisecond, text); });
}
