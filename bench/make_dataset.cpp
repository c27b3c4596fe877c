// make_dataset.cpp - synthetic infrared datasets for the benchmark, written
// with the project's own dataset writer.
//
//   tdbench_make_dataset OUTPUT ROWS COLUMNS plain|compressed
//
// The scene is a sea-surface temperature field as a satellite sees it: a
// north-south gradient, eddies, a meandering front with a sharp step, pixel
// noise, patches of cold cloud (below the default colour range), warm land
// west of a coast (above it), and a few dropped scan lines (missing data).
// Graphics planes: 1 the coast line, 2 a graticule every 256 pixels, 3 the
// cloud mask.  The north-south gradient and the front's place follow the
// image height; every other feature is laid out in pixels, so a larger
// image shows more of them rather than the same ones stretched.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <numbers>
#include <string>
#include <string_view>
#include <vector>

#include "dataset_writer.h"

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// A deterministic hash of a pixel position: uniform in [0, 1).
double hash01(std::uint32_t x, std::uint32_t y)
{
    std::uint64_t h = (std::uint64_t{x} << 32) ^ y ^ 0x9E3779B97F4A7C15ull;
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return static_cast<double>(h >> 11) * (1.0 / 9007199254740992.0);
}

// Stored count of a temperature in degrees Celsius: the inverse of the
// three-segment calibration, clamped to the valid counts 1 .. 2047.
int count_of(double celsius)
{
    const double kelvin = celsius + 273.15;
    double v = 0.0;
    if (kelvin < 270.0)
        v = 1.0 + (kelvin - 178.0) / 0.1;
    else if (kelvin < 310.0)
        v = 921.0 + (kelvin - 270.0) / 0.05;
    else
        v = 1721.0 + (kelvin - 310.0) / 0.1;
    const long k = std::lround(v);
    return static_cast<int>(k < 1 ? 1 : (k > 2047 ? 2047 : k));
}

// Smooth cloudiness in about [-3, 3]; cloud where it exceeds a threshold.
double cloudiness(double x, double y)
{
    return std::sin(x / 173.0 + 0.7 * std::sin(y / 211.0)) + std::sin(y / 149.0 - 0.5 * std::cos(x / 257.0)) +
           std::sin((x + y) / 97.0);
}

struct Row {
    std::vector<int> values;
    std::vector<int> nibbles;
};

// One row of the scene.
void make_row(int r, int rows, int columns, Row& row)
{
    row.values.assign(static_cast<std::size_t>(columns), 0);
    row.nibbles.assign(static_cast<std::size_t>(columns), 0);
    const double y = r;
    // The coast: land west of it.
    const double coast = 420.0 + 90.0 * std::sin(kTwoPi * y / 530.0) + 35.0 * std::sin(kTwoPi * y / 170.0);
    const double coast_next =
        420.0 + 90.0 * std::sin(kTwoPi * (y + 1) / 530.0) + 35.0 * std::sin(kTwoPi * (y + 1) / 170.0);
    const bool dropped = r % 1531 == 777; // a dropped scan line
    for (int c = 0; c < columns; ++c) {
        const auto i = static_cast<std::size_t>(c);
        const double x = c;
        int nibble = 0;
        // Coast line: the pixels between this row's crossing and the next.
        const double lo = std::min(coast, coast_next) - 0.5;
        const double hi = std::max(coast, coast_next) + 0.5;
        if (x >= lo && x <= hi)
            nibble |= 0x1;
        if (c % 256 == 0 || r % 256 == 0)
            nibble |= 0x2;

        double t = 0.0;
        if (x < coast) {
            // Warm, textured land.
            t = 24.0 + 5.0 * std::sin(x / 37.0) * std::cos(y / 53.0) + 4.0 * std::sin((x - y) / 211.0) +
                2.0 * (hash01(c, r) - 0.5);
        } else {
            t = 25.0 - 14.0 * (y / rows);
            t += 1.5 * std::sin(kTwoPi * x / 700.0 + 0.8 * std::sin(kTwoPi * y / 900.0)) *
                 std::cos(kTwoPi * y / 600.0);
            const double front =
                0.45 * rows + 140.0 * std::sin(kTwoPi * x / 1300.0) + 60.0 * std::sin(kTwoPi * x / 370.0);
            t += 3.0 * std::tanh((front - y) / 12.0);
            t += 0.3 * (hash01(c, r) - 0.5);
            const double cloud = cloudiness(x, y);
            if (cloud > 1.2) {
                // Cold cloud tops, colder towards the middle of a patch.
                t = -8.0 - 12.0 * (cloud - 1.2) + 1.5 * (hash01(r, c) - 0.5);
                nibble |= 0x4;
            }
        }
        row.values[i] = dropped ? 0 : count_of(t);
        row.nibbles[i] = nibble;
    }
}

int usage()
{
    std::fputs("usage: tdbench_make_dataset OUTPUT ROWS COLUMNS plain|compressed\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5)
        return usage();
    const int rows = std::atoi(argv[2]);
    const int columns = std::atoi(argv[3]);
    const std::string_view form = argv[4];
    if (rows < 1 || rows > 32767 || columns < 1 || columns > 32767 ||
        (form != "plain" && form != "compressed"))
        return usage();

    tdw::DatasetDescription desc;
    desc.data_id = tdw::kInfrared;
    desc.rows = static_cast<std::int16_t>(rows);
    desc.columns = static_cast<std::int16_t>(columns);
    desc.compressed = form == "compressed";
    desc.fields = {
        {"orbit_start_year", 2004}, {"orbit_start_day", 187}, {"orbit_start_hour_minute", 1342},
        {"orbit_start_second", 17}, {"projection_type", 1},   {"data_set_type", 3},
    };
    // The writer asks sample by sample; the scene is made a row at a time.
    auto row = std::make_shared<Row>();
    auto made = std::make_shared<int>(-1);
    auto at = [row, made, rows, columns](int r) -> const Row& {
        if (*made != r) {
            make_row(r, rows, columns, *row);
            *made = r;
        }
        return *row;
    };
    desc.value = [at](int r, int c) { return at(r).values[static_cast<std::size_t>(c)]; };
    desc.nibble = [at](int r, int c) { return at(r).nibbles[static_cast<std::size_t>(c)]; };

    try {
        tdw::write_dataset(argv[1], desc);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tdbench_make_dataset: %s: %s\n", argv[1], e.what());
        return 1;
    }
    return 0;
}
