// header_cases.cpp - the table of header cases.  Every case is an infrared
// dataset of 6 x 70 samples with a valid orbit start and no map unless it
// says otherwise.
#include "header_cases.h"

#include <cmath>

#include "tidewell.h"

namespace tdcases {

namespace {

using Fields = std::map<std::string, std::int16_t, std::less<>>;

constexpr const char* kCelsius = "\u00b0C";
constexpr const char* kBrightness = "brightness temperature (\u00b0C)";
constexpr const char* kValidTime = "2024-06-23T13:42:27.500Z";

std::int16_t degrees(double value)
{
    return static_cast<std::int16_t>(std::lround(value * 128.0));
}

tdw::DatasetDescription description(std::int16_t data_id, const Fields& fields)
{
    tdw::DatasetDescription desc;
    desc.data_id = data_id;
    desc.rows = 6;
    desc.columns = 70;
    desc.fields = {{"orbit_start_year", 2024},
                   {"orbit_start_day", 175},
                   {"orbit_start_hour_minute", 1342},
                   {"orbit_start_second", 27},
                   {"orbit_start_millisecond", 500}};
    for (const auto& [name, value] : fields)
        desc.fields[name] = value;
    return desc;
}

// An infrared dataset with these orbit start fields.
Fields time_fields(int year, int day, int hour_minute, int second, int millisecond)
{
    return {{"orbit_start_year", static_cast<std::int16_t>(year)},
            {"orbit_start_day", static_cast<std::int16_t>(day)},
            {"orbit_start_hour_minute", static_cast<std::int16_t>(hour_minute)},
            {"orbit_start_second", static_cast<std::int16_t>(second)},
            {"orbit_start_millisecond", static_cast<std::int16_t>(millisecond)}};
}

// An infrared dataset with this projection and corner pixel centres.
Fields grid_fields(int projection, double lat0, double lat1, double lon0, double lon1)
{
    return {{"projection_type", static_cast<std::int16_t>(projection)},
            {"start_latitude", degrees(lat0)},
            {"end_latitude", degrees(lat1)},
            {"start_longitude", degrees(lon0)},
            {"end_longitude", degrees(lon1)}};
}

std::vector<HeaderCase> make_cases()
{
    using tdw::kAncillary, tdw::kCloud, tdw::kInfrared, tdw::kVisible;
    std::vector<HeaderCase> cases;
    auto data = [&](const char* name, std::int16_t data_id, Fields fields, const char* kind,
                    const char* storage, const char* units, const char* long_name, const char* label) {
        cases.push_back({name, description(data_id, fields), kind, storage, units, long_name, label,
                         kValidTime, TD_GRID_NONE});
    };
    auto time = [&](const char* name, Fields fields, const char* text) {
        cases.push_back({name, description(kInfrared, fields), "infrared", "plain", kCelsius,
                         "brightness temperature", kBrightness, text, TD_GRID_NONE});
    };
    auto grid = [&](const char* name, Fields fields, int expected, int rows = 6, int columns = 70) {
        HeaderCase c{name,     description(kInfrared, fields), "infrared",  "plain",
                     kCelsius, "brightness temperature",       kBrightness, kValidTime,
                     expected};
        c.desc.rows = static_cast<std::int16_t>(rows);
        c.desc.columns = static_cast<std::int16_t>(columns);
        cases.push_back(c);
    };

    // Every kind, with its units, and the storage forms.
    data("infrared", kInfrared, {}, "infrared", "plain", kCelsius, "brightness temperature", kBrightness);
    data("infrared-sst-compressed", kInfrared, {{"channel_number", 201}, {"compression_type", 2}}, "infrared",
         "compressed", kCelsius, "temperature", "temperature (\u00b0C)");
    data("infrared-raw", kInfrared, {{"calibration_type", 0}}, "infrared", "plain", "", "raw counts",
         kBrightness);
    data("visible", kVisible, {}, "visible", "plain", "%", "albedo", "albedo (%)");
    data("visible-raw-unsupported", kVisible, {{"calibration_type", 0}, {"compression_type", 1}}, "visible",
         "unsupported", "", "raw counts", "albedo (%)");
    data("angle-scan", kAncillary, {{"channel_number", 101}}, "angle", "plain", "degrees", "scan angle",
         "degrees");
    data("angle-satellite-zenith", kAncillary, {{"channel_number", 102}}, "angle", "plain", "degrees",
         "satellite zenith angle", "degrees");
    data("angle-solar-zenith", kAncillary, {{"channel_number", 103}}, "angle", "plain", "degrees",
         "solar zenith angle", "degrees");
    data("angle-relative-azimuth", kAncillary, {{"channel_number", 104}}, "angle", "plain", "degrees",
         "relative azimuth angle", "degrees");
    data("scan-time", kAncillary, {{"channel_number", 105}, {"compression_type", 2}}, "scan time", "plain",
         "hours", "scan time", "hours");
    data("ancillary-other-channel", kAncillary, {{"channel_number", 301}}, "angle", "plain", "",
         "ocean_reflect", "degrees");
    data("cloud", kCloud, {{"compression_type", 2}}, "cloud", "plain", "", "cloud", "byte value");

    // Valid times, two-digit years and leap days; then fields that make no
    // time, which every client shows as none.
    time("time-two-digit-1999", time_fields(99, 132, 1423, 5, 0), "1999-05-12T14:23:05.000Z");
    time("time-two-digit-2069", time_fields(69, 365, 2359, 59, 999), "2069-12-31T23:59:59.999Z");
    time("time-two-digit-1970", time_fields(70, 1, 0, 0, 1), "1970-01-01T00:00:00.001Z");
    time("time-leap-day-2000", time_fields(2000, 60, 0, 0, 0), "2000-02-29T00:00:00.000Z");
    time("time-day-366-of-2024", time_fields(2024, 366, 1200, 0, 7), "2024-12-31T12:00:00.007Z");
    time("time-1900-not-leap", time_fields(1900, 60, 0, 0, 0), "1900-03-01T00:00:00.000Z");
    time("time-millisecond-1000", time_fields(2024, 1, 100, 0, 1000), "2024-01-01T01:00:00Z");
    time("time-millisecond-negative", time_fields(9999, 365, 2359, 59, -1), "9999-12-31T23:59:59Z");
    time("time-zeros", time_fields(0, 0, 0, 0, 0), nullptr);
    time("time-day-366-of-2023", time_fields(2023, 366, 0, 0, 0), nullptr);
    time("time-hour-24", time_fields(2024, 10, 2400, 0, 0), nullptr);
    time("time-minute-60", time_fields(2024, 10, 1260, 0, 0), nullptr);
    time("time-second-60", time_fields(2024, 10, 1200, 60, 0), nullptr);
    time("time-negative-hour-minute", time_fields(2024, 10, -5, 0, 0), nullptr);
    time("time-negative-year", time_fields(-1, 10, 1200, 0, 0), nullptr);
    time("time-year-10000", time_fields(10000, 10, 1200, 0, 0), nullptr);

    // Both mapped projections, both directions, the antimeridian; grids
    // that cannot be placed.
    grid("grid-linear", grid_fields(3, 45.0, 30.5, -80.25, -45.5), TD_GRID_LINEAR);
    grid("grid-linear-northward", grid_fields(3, 10.0, 20.0, 0.0, 5.0), TD_GRID_LINEAR, 11, 6);
    grid("grid-linear-antimeridian", grid_fields(3, 10.0, 0.0, 170.0, -175.0), TD_GRID_LINEAR);
    grid("grid-mercator", grid_fields(1, 45.0, 30.0, -80.0, -60.0), TD_GRID_MERCATOR, 16, 20);
    grid("grid-mercator-north-of-south", grid_fields(1, -70.0, 85.0, 0.0, 1.0), TD_GRID_MERCATOR, 9, 2);
    grid("grid-mercator-antimeridian", grid_fields(1, 60.0, 50.0, 179.0, -179.0), TD_GRID_MERCATOR);
    grid("grid-polar", grid_fields(2, 45.0, 30.0, -80.0, -60.0), TD_GRID_NONE);
    grid("grid-unmapped", grid_fields(0, 45.0, 30.0, -80.0, -60.0), TD_GRID_NONE);
    grid("grid-one-row", grid_fields(3, 45.0, 30.0, -80.0, -60.0), TD_GRID_NONE, 1, 70);
    grid("grid-one-column", grid_fields(3, 45.0, 30.0, -80.0, -60.0), TD_GRID_NONE, 6, 1);
    grid("grid-equal-latitudes", grid_fields(3, 7.8125, 7.8125, 0.0, 1.0), TD_GRID_NONE);
    grid("grid-equal-longitudes", grid_fields(3, 7.8125, 0.0, 1.0, 1.0), TD_GRID_NONE);
    grid("grid-linear-pole", grid_fields(3, 90.0, 0.0, 0.0, 1.0), TD_GRID_NONE);
    grid("grid-mercator-pole", grid_fields(1, 0.0, -90.0, 0.0, 1.0), TD_GRID_NONE);
    return cases;
}

} // namespace

const std::vector<HeaderCase>& header_cases()
{
    static const std::vector<HeaderCase> cases = make_cases();
    return cases;
}

} // namespace tdcases
