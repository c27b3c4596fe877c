// dataset_metadata.cpp - units, attribute texts, the orbit start time and
// the metadata domains of a dataset.
#include "dataset_metadata.h"

#include <array>
#include <cstdio>

#include "tidewell.h"

namespace tdgdal {

namespace {

constexpr std::int16_t kVisible = 0;
constexpr std::int16_t kInfrared = 1;
constexpr std::int16_t kAncillary = 2;

bool leap_year(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Month and day of the month of a day of the year (1-based, validated).
std::pair<int, int> month_day(int year, int day_of_year)
{
    constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int month = 0;
    while (true) {
        const int length = kDays[static_cast<std::size_t>(month)] + (month == 1 && leap_year(year) ? 1 : 0);
        if (day_of_year <= length)
            return {month + 1, day_of_year};
        day_of_year -= length;
        ++month;
    }
}

std::int16_t stored(const tdi::DatasetInfo& info, std::string_view name)
{
    const tdi::AttributeInfo* attribute = find_attribute(info, name);
    return attribute != nullptr ? attribute->stored : 0;
}

} // namespace

std::string data_unit(std::int16_t data_id, std::int16_t calibration_type,
                      std::int16_t channel_number)
{
    switch (data_id) {
    case kVisible:
        return calibration_type != 0 ? "%" : "";
    case kInfrared:
        return calibration_type != 0 ? "\u00B0C" : "";
    case kAncillary:
        if (channel_number >= 101 && channel_number <= 104)
            return "degrees";
        return channel_number == 105 ? "hours" : "";
    default:
        return "";
    }
}

std::string attribute_text(const tdi::AttributeInfo& attribute)
{
    if (attribute.kind == TD_ATT_ENUMERATED)
        return attribute.code_name ? *attribute.code_name : std::to_string(attribute.stored);
    return tdi::scaled_decimal(attribute.stored, attribute.scale);
}

std::optional<std::string> orbit_start_time(int year, int day_of_year, int hour_minute, int second,
                                            int millisecond)
{
    if (year < 0)
        return std::nullopt;
    if (year < 70)
        year += 2000;
    else if (year < 100)
        year += 1900;
    const int hour = hour_minute / 100;
    const int minute = hour_minute % 100;
    const bool valid = year <= 9999 && day_of_year >= 1 && day_of_year <= (leap_year(year) ? 366 : 365) &&
                       hour_minute >= 0 && hour <= 23 && minute <= 59 && second >= 0 && second <= 59;
    if (!valid)
        return std::nullopt;
    const auto [month, day] = month_day(year, day_of_year);
    std::array<char, 40> text{};
    const int n = std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d", year, month,
                                day, hour, minute, second);
    std::string out(text.data(), static_cast<std::size_t>(n));
    if (millisecond >= 0 && millisecond <= 999) {
        std::snprintf(text.data(), text.size(), ".%03d", millisecond);
        out += text.data();
    }
    return out + "Z";
}

const tdi::AttributeInfo* find_attribute(const tdi::DatasetInfo& info, std::string_view name)
{
    for (const tdi::AttributeInfo& attribute : info.attributes)
        if (attribute.name == name)
            return &attribute;
    return nullptr;
}

DatasetMetadata describe(const tdi::DatasetInfo& info)
{
    DatasetMetadata out;
    for (const tdi::AttributeInfo& attribute : info.attributes)
        out.attributes.emplace_back(attribute.name, attribute_text(attribute));

    auto text_of = [&](std::string_view name) {
        const tdi::AttributeInfo* attribute = find_attribute(info, name);
        return attribute != nullptr ? attribute_text(*attribute) : std::string();
    };
    out.essentials = {
        {"satellite", text_of("satellite_id")},
        {"variable", info.variables.empty() ? std::string() : info.variables.front().name},
        {"data_kind", info.data_kind},
        {"storage", info.storage},
        {"projection", text_of("projection_type")},
    };
    for (const char* corner : {"start_latitude", "end_latitude", "start_longitude", "end_longitude"})
        out.essentials.emplace_back(corner, text_of(corner));

    const std::optional<std::string> start = orbit_start_time(
        stored(info, "orbit_start_year"), stored(info, "orbit_start_day"),
        stored(info, "orbit_start_hour_minute"), stored(info, "orbit_start_second"),
        stored(info, "orbit_start_millisecond"));
    if (start)
        out.imagery.emplace_back("ACQUISITIONDATETIME", *start);
    const tdi::AttributeInfo* satellite = find_attribute(info, "satellite_id");
    if (satellite != nullptr && satellite->code_name)
        out.imagery.emplace_back("SATELLITEID", *satellite->code_name);

    out.unit = data_unit(stored(info, "data_id"), stored(info, "calibration_type"),
                         stored(info, "channel_number"));
    return out;
}

} // namespace tdgdal
