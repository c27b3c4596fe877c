// dataset_summary.cpp - the header essentials of a dataset, read through
// the td_ interface only.  This file is the one place of tdfbatch that
// knows what a header means.
#include "dataset_summary.h"

#include <array>
#include <ctime>
#include <string_view>

#include "tidewell.h"

namespace tdb {

namespace {

constexpr int kDataVariable = 0;

// Closes the dataset when it goes out of scope.
class OpenDataset {
public:
    explicit OpenDataset(int id) : id_(id) {}
    ~OpenDataset() { static_cast<void>(td_close(id_)); }
    OpenDataset(const OpenDataset&) = delete;
    OpenDataset& operator=(const OpenDataset&) = delete;
    int id() const { return id_; }

private:
    int id_;
};

// The kind of data as tdftogif chooses its defaults from it.
std::string data_kind(std::string_view data_id, std::string_view variable)
{
    if (data_id == "infrared" || data_id == "visible" || data_id == "cloud")
        return std::string(data_id);
    if (data_id == "ancillary")
        return variable == "scan_time" ? "scan time" : "angle";
    return {};
}

// Only visible and infrared data may be stored compressed (code 2).
std::string storage(std::string_view data_id, std::int16_t compression_type)
{
    if (data_id != "visible" && data_id != "infrared")
        return "plain";
    switch (compression_type) {
    case 0:
        return "plain";
    case 2:
        return "compressed";
    default:
        return "unsupported";
    }
}

constexpr bool leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Days from 1970-01-01 to the first day of `year` (year >= 1970).
constexpr std::int64_t days_before(int year)
{
    std::int64_t days = 0;
    for (int y = 1970; y < year; ++y)
        days += leap(y) ? 366 : 365;
    return days;
}

// The orbit start in seconds since 1970 UTC.  A two-digit year is 1970 to
// 2069, as the time stamp reads it.  A day, hour, minute or second outside
// its calendar range makes no time at all: the page would rather say
// "unknown" than show another day.
std::optional<std::int64_t> orbit_start(int id)
{
    std::int16_t year = 0, day = 0, hour_minute = 0, second = 0;
    if (td_attget_short(id, kDataVariable, "orbit_start_year", &year) != TD_NOERR ||
        td_attget_short(id, kDataVariable, "orbit_start_day", &day) != TD_NOERR ||
        td_attget_short(id, kDataVariable, "orbit_start_hour_minute", &hour_minute) != TD_NOERR ||
        td_attget_short(id, kDataVariable, "orbit_start_second", &second) != TD_NOERR)
        return std::nullopt;
    int full_year = year;
    if (full_year >= 0 && full_year < 100)
        full_year += full_year < 70 ? 2000 : 1900;
    const int hours = hour_minute / 100;
    const int minutes = hour_minute % 100;
    if (full_year < 1970 || full_year > 9999 || day < 1 || day > (leap(full_year) ? 366 : 365) ||
        hour_minute < 0 || hours > 23 || minutes > 59 || second < 0 || second > 59)
        return std::nullopt;
    return ((days_before(full_year) + day - 1) * 24 + hours) * 3600 + minutes * 60 + second;
}

} // namespace

Recognition read_summary(const std::string& path, DatasetSummary& summary)
{
    summary = DatasetSummary{};
    int id = 0;
    const int opened = td_open(path.c_str(), TD_READONLY, &id);
    if (opened == TD_EMAGIC || opened == TD_ENOMAGIC)
        return Recognition::not_a_dataset;
    if (opened != TD_NOERR)
        return Recognition::damaged;
    const OpenDataset dataset(id);

    int dim = 0;
    if (td_dimid(id, "rows", &dim) == TD_NOERR)
        static_cast<void>(td_diminq(id, dim, nullptr, &summary.rows));
    if (td_dimid(id, "columns", &dim) == TD_NOERR)
        static_cast<void>(td_diminq(id, dim, nullptr, &summary.columns));

    std::array<char, TD_VAR_NAME_SIZE> variable{};
    std::array<char, TD_ATT_TEXT_SIZE> text{};
    if (td_attget_text(id, kDataVariable, "satellite_id", text.data()) == TD_NOERR)
        summary.satellite = text.data();
    text.fill('\0');
    if (td_attget_text(id, kDataVariable, "data_id", text.data()) == TD_NOERR &&
        td_varinq(id, kDataVariable, variable.data(), nullptr, nullptr, nullptr, nullptr) == TD_NOERR) {
        const std::string_view data_id = text.data();
        summary.kind = data_kind(data_id, variable.data());
        std::int16_t compression = 0;
        if (td_attget_stored(id, kDataVariable, "compression_type", &compression) == TD_NOERR)
            summary.storage = storage(data_id, compression);
    }
    summary.time = orbit_start(id);
    return Recognition::dataset;
}

std::string utc_text(std::int64_t seconds)
{
    const auto t = static_cast<std::time_t>(seconds);
    std::tm calendar{};
    std::array<char, 32> text{};
    if (gmtime_r(&t, &calendar) == nullptr ||
        std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &calendar) == 0)
        return {};
    return text.data();
}

} // namespace tdb
