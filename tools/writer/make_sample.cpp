// make_sample.cpp - writes a demo dataset: a synthetic infrared sea-surface
// temperature scene, stored compressed, for the demo and the colour-map
// gallery.
//
//   make_sample OUTPUT [ROWS COLUMNS]     (default 360 rows, 480 columns)
//
// The scene: land along the western and northern edges (missing samples,
// as a masked product has them); a cold north and a warm south split by a
// meandering front; a warm-core and a cold-core eddy with spiral arms on
// either side of it; filaments and fine texture; a few patches of cloud
// (missing samples) at sea.  Graphics plane 1 holds the coast line, plane
// 2 a grid of latitude and longitude lines every 60 pixels.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <numbers>
#include <stdexcept>
#include <string>

#include "dataset_writer.h"

namespace {

constexpr double kPi = std::numbers::pi;

struct Scene {
    int rows;
    int columns;

    // x, y in 0..1 across and down the image.
    double x(int column) const { return (column + 0.5) / columns; }
    double y(int row) const { return (row + 0.5) / rows; }

    bool land(int row, int column) const
    {
        const double u = x(column);
        const double v = y(row);
        // A western coast with bays and a cape, and a northern shore.
        const double west = 0.14 + 0.05 * std::sin(3.1 * kPi * v) + 0.025 * std::sin(13.0 * v + 1.0) +
                            0.08 * std::exp(-std::pow((v - 0.62) / 0.05, 2.0));
        const double north = 0.07 + 0.03 * std::sin(2.3 * kPi * u + 0.7) + 0.015 * std::sin(17.0 * u);
        const bool island = std::hypot((u - 0.78) / 0.045, (v - 0.16) / 0.03) < 1.0;
        return u < west || v < north || island;
    }

    bool cloud(int row, int column) const
    {
        const double u = x(column);
        const double v = y(row);
        const double blob1 = std::hypot((u - 0.62) / 0.07, (v - 0.82) / 0.04);
        const double blob2 = std::hypot((u - 0.88) / 0.035, (v - 0.55) / 0.06);
        const double ragged = 0.25 * std::sin(40.0 * u) * std::sin(33.0 * v);
        return blob1 + ragged < 1.0 || blob2 + ragged < 1.0;
    }

    // Sea-surface temperature in degrees Celsius.
    double temperature(int row, int column) const
    {
        const double u = x(column);
        const double v = y(row);
        // Background: cold north, warm south.
        double t = 6.5 + 17.0 * v;
        // The front: a sharp step along a meandering line.
        const double front =
            0.47 + 0.07 * std::sin(2.0 * kPi * 1.4 * u + 0.6) + 0.025 * std::sin(2.0 * kPi * 4.1 * u + 1.9);
        t += 3.5 * std::tanh((v - front) / 0.012);
        // Eddies: a warm ring north of the front, cold rings south of it,
        // each with two spiral arms.
        auto eddy = [&](double cx, double cy, double radius, double amplitude, double turn) {
            const double dx = (u - cx) * columns / rows;
            const double dy = v - cy;
            const double r = std::hypot(dx, dy) / radius;
            const double angle = std::atan2(dy, dx);
            const double arms = 0.45 * std::cos(2.0 * angle + turn * r * 2.0 * kPi);
            return amplitude * std::exp(-r * r) * (1.0 + arms * std::min(r, 1.5));
        };
        t += eddy(0.50, 0.29, 0.10, 7.5, 1.2);
        t += eddy(0.72, 0.70, 0.09, -7.0, -1.0);
        t += eddy(0.36, 0.80, 0.06, -4.0, 0.8);
        t += eddy(0.86, 0.33, 0.05, 4.0, -0.9);
        // Mesoscale variability, filaments and fine texture.
        t += 1.4 * std::sin(2.0 * kPi * (2.3 * u + 0.4 * std::sin(7.0 * v))) *
             std::cos(2.0 * kPi * 1.7 * v + 0.3);
        t += 0.9 * std::sin(23.0 * u + 9.0 * std::sin(5.0 * v)) * std::sin(19.0 * v);
        t += 0.3 * std::sin(71.0 * u + 3.0 * v) * std::cos(59.0 * v - 2.0 * u);
        // Upwelling along the coast.
        const double coast_distance = u - (0.14 + 0.05 * std::sin(3.1 * kPi * v));
        t -= 4.0 * std::exp(-coast_distance / 0.04) * (coast_distance > 0 ? 1.0 : 0.0);
        return t;
    }

    // The stored data value: 921 is 270 K (-3.15 degrees Celsius), in steps
    // of 0.05 K up to 1721 (310 K); 0 marks a missing sample.
    int value(int row, int column) const
    {
        if (land(row, column) || cloud(row, column))
            return 0;
        const double t = temperature(row, column);
        const long v = std::lround(921.0 + (t + 3.15) / 0.05);
        return static_cast<int>(std::clamp(v, 921L, 1721L));
    }

    int nibble(int row, int column) const
    {
        int bits = 0;
        if (land(row, column)) {
            const bool shore =
                (row > 0 && !land(row - 1, column)) || (row + 1 < rows && !land(row + 1, column)) ||
                (column > 0 && !land(row, column - 1)) || (column + 1 < columns && !land(row, column + 1));
            if (shore)
                bits |= 1; // plane 1: coast line
        }
        if (row % 60 == 30 || column % 60 == 30)
            bits |= 2; // plane 2: grid
        return bits;
    }
};

int parse_size(const char* text)
{
    const int n = std::atoi(text);
    if (n < 1 || n > 4000)
        throw std::runtime_error(std::string("size out of range 1 to 4000: ") + text);
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 4) {
        std::cerr << "usage: make_sample OUTPUT [ROWS COLUMNS]\n";
        return 2;
    }
    try {
        Scene scene{360, 480};
        if (argc == 4) {
            scene.rows = parse_size(argv[2]);
            scene.columns = parse_size(argv[3]);
        }
        tdw::DatasetDescription desc;
        desc.data_id = tdw::kInfrared;
        desc.rows = static_cast<std::int16_t>(scene.rows);
        desc.columns = static_cast<std::int16_t>(scene.columns);
        desc.compressed = true;
        desc.value = [&scene](int r, int c) { return scene.value(r, c); };
        desc.nibble = [&scene](int r, int c) { return scene.nibble(r, c); };
        desc.fields = {
            {"satellite_id", static_cast<std::int16_t>(0xD5D1)}, // hesk-14
            {"satellite_type", 1},                               // afternoon
            {"data_set_type", 1},                                // lac
            {"projection_type", 1},                              // mercator
            {"start_latitude", 45 * 128},
            {"end_latitude", 30 * 128},
            {"start_longitude", -80 * 128},
            {"end_longitude", -60 * 128},
            {"resolution", 147}, // 1.47 km
            {"composite_type", 0},
            {"calibration_type", 2},
            {"channel_number", 6}, // mcsst
            {"sun_normalization", 0},
            {"limb_correction", 1},
            {"nonlinearity_correction", 1},
            {"orbits_processed", 1},
            {"channels_produced", 1},
            {"percent_non_zero", 71},
            {"orbit_type", 1}, // descending
            {"orbit_time", 0}, // day
            {"end_row", static_cast<std::int16_t>(scene.rows - 1)},
            {"end_column", static_cast<std::int16_t>(scene.columns - 1)},
            {"orbit_start_year", 2024},
            {"orbit_start_day", 175},
            {"orbit_start_month_day", 623},
            {"orbit_start_hour_minute", 1342},
            {"orbit_start_second", 27},
            {"orbit_start_millisecond", 500},
            {"orbit_end_year", 2024},
            {"orbit_end_day", 175},
            {"orbit_end_month_day", 623},
            {"orbit_end_hour_minute", 1355},
            {"orbit_end_second", 9},
            {"orbit_end_millisecond", 250},
        };
        tdw::write_dataset(argv[1], desc);
    } catch (const std::exception& e) {
        std::cerr << "make_sample: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
