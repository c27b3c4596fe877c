// gdal_fixtures.cpp - datasets for the GDAL driver's tests.
#include "gdal_fixtures.h"

#include <cmath>

#include "tidewell.h"

namespace tdgdal_test {

namespace {

constexpr std::int16_t kRows = 30;
constexpr std::int16_t kColumns = 140; // rows of 280 bytes hold the header in slot 0

std::int16_t degrees(double value)
{
    return static_cast<std::int16_t>(std::lround(value * 128.0));
}

tdw::DatasetDescription base(std::int16_t data_id, bool compressed, std::int16_t projection)
{
    tdw::DatasetDescription desc;
    desc.data_id = data_id;
    desc.rows = kRows;
    desc.columns = kColumns;
    desc.compressed = compressed;
    desc.fields = {
        {"projection_type", projection},   {"start_latitude", degrees(45.0)},
        {"end_latitude", degrees(30.5)},   {"start_longitude", degrees(-80.25)},
        {"end_longitude", degrees(-45.5)}, {"resolution", 147},
        {"orbit_start_year", 2024},        {"orbit_start_day", 175},
        {"orbit_start_hour_minute", 1342}, {"orbit_start_second", 27},
        {"orbit_start_millisecond", 500},
    };
    return desc;
}

// Sensor values over the valid range with missing samples (0) in a band
// across the image; graphics planes as a coast line and a grid.
int sensor_value(int row, int column)
{
    if (column >= 50 && column < 56)
        return 0;
    return 1 + (row * 67 + column * 13) % 2047;
}

int nibble(int row, int column)
{
    return (column == 20 ? 1 : 0) | (row % 10 == 5 ? 2 : 0) | ((row + column) % 17 == 0 ? 8 : 0);
}

constexpr std::int16_t kUnmapped = 0;
constexpr std::int16_t kMercator = 1;
constexpr std::int16_t kPolar = 2;
constexpr std::int16_t kLinear = 3;

} // namespace

std::vector<Fixture> gdal_fixtures()
{
    std::vector<Fixture> out;
    auto add = [&](std::string name, tdw::DatasetDescription desc) {
        if (desc.data_id == tdw::kVisible || desc.data_id == tdw::kInfrared) {
            if (!desc.value)
                desc.value = sensor_value;
            desc.nibble = nibble;
        }
        out.push_back({std::move(name), std::move(desc)});
    };
    add("visible-plain-linear", base(tdw::kVisible, false, kLinear));
    add("visible-compressed-mercator", base(tdw::kVisible, true, kMercator));
    add("infrared-plain-mercator", base(tdw::kInfrared, false, kMercator));
    add("infrared-compressed-linear", base(tdw::kInfrared, true, kLinear));

    tdw::DatasetDescription raw = base(tdw::kInfrared, false, kPolar);
    raw.fields["calibration_type"] = 0;
    add("infrared-raw-polar", raw);

    tdw::DatasetDescription shifted = base(tdw::kInfrared, true, kLinear);
    shifted.fields["vertical_shift"] = 3;
    shifted.fields["horizontal_shift"] = -7;
    add("infrared-compressed-shifted", shifted);

    tdw::DatasetDescription pacific = base(tdw::kInfrared, false, kLinear);
    pacific.fields["start_longitude"] = degrees(170.0);
    pacific.fields["end_longitude"] = degrees(-175.0);
    add("infrared-plain-antimeridian", pacific);

    tdw::DatasetDescription angle = base(tdw::kAncillary, false, kUnmapped);
    angle.fields["channel_number"] = 103; // solar_zenith
    angle.value = [](int row, int column) { return column == 0 ? 0 : 1 + (row * 500 + column * 37) % 11520; };
    add("ancillary-angle-unmapped", angle);

    tdw::DatasetDescription scan_time = base(tdw::kAncillary, false, kLinear);
    scan_time.fields["channel_number"] = 105;
    scan_time.value = [](int row, int column) { return 1200 + row * 2 + column % 60; };
    add("ancillary-scan-time-linear", scan_time);

    tdw::DatasetDescription cloud = base(tdw::kCloud, false, kMercator);
    cloud.value = [](int row, int column) { return (row * 31 + column) % 256; };
    add("cloud-mercator", cloud);
    return out;
}

int mosaic_count(int row, int column)
{
    return (row * 7 + column * 13) % 1024;
}

int mosaic_planes(int row, int column)
{
    return (row + 2 * column) % 16;
}

tdw::DatasetDescription mosaic_tile(int first_row, int first_column, int rows, int columns)
{
    tdw::DatasetDescription desc;
    desc.data_id = tdw::kInfrared;
    desc.rows = static_cast<std::int16_t>(rows);
    desc.columns = static_cast<std::int16_t>(columns);
    const double lat = kMosaicLat0 - first_row * kMosaicStep;
    const double lon = kMosaicLon0 + first_column * kMosaicStep;
    desc.fields = {
        {"calibration_type", 0},           {"projection_type", kLinear},
        {"start_latitude", degrees(lat)},  {"end_latitude", degrees(lat - (rows - 1) * kMosaicStep)},
        {"start_longitude", degrees(lon)}, {"end_longitude", degrees(lon + (columns - 1) * kMosaicStep)},
    };
    desc.value = [=](int r, int c) { return mosaic_count(first_row + r, first_column + c) + 1; };
    desc.nibble = [=](int r, int c) { return mosaic_planes(first_row + r, first_column + c); };
    return desc;
}

LibraryReads read_with_library(const std::string& path)
{
    LibraryReads out;
    int id = -1;
    out.status = td_open(path.c_str(), TD_READONLY, &id);
    if (out.status != TD_NOERR)
        return out;
    int graphics = -1;
    const bool has_graphics = td_varid(id, "graphics", &graphics) == TD_NOERR;
    char variable[TD_VAR_NAME_SIZE] = {};
    if (td_varinq(id, 0, variable, nullptr, nullptr, nullptr, nullptr) == TD_NOERR)
        out.variable = variable;
    if ((out.status = td_diminq(id, 0, nullptr, &out.rows)) == TD_NOERR &&
        (out.status = td_diminq(id, 1, nullptr, &out.columns)) == TD_NOERR) {
        const auto columns = static_cast<std::size_t>(out.columns);
        out.data.resize(static_cast<std::size_t>(out.rows) * columns);
        if (has_graphics)
            out.graphics.resize(out.data.size());
        for (int row = 0; row < out.rows && out.status == TD_NOERR; ++row) {
            const std::uint32_t start[2] = {static_cast<std::uint32_t>(row), 0};
            const std::uint32_t count[2] = {1, static_cast<std::uint32_t>(out.columns)};
            const std::size_t at = static_cast<std::size_t>(row) * columns;
            out.status = td_varget_float(id, 0, start, count, out.data.data() + at);
            if (out.status == TD_NOERR && has_graphics)
                out.status = td_varget_byte(id, 1, start, count, out.graphics.data() + at);
        }
    }
    static_cast<void>(td_close(id));
    return out;
}

std::string subdataset(const std::string& path, const std::string& component)
{
    return "TIDEWELL:\"" + path + "\":" + component;
}

std::string data_name(const std::string& path, const LibraryReads& reads)
{
    return reads.graphics.empty() ? path : subdataset(path, reads.variable);
}

} // namespace tdgdal_test
