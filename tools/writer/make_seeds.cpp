// make_seeds.cpp - writes small datasets of every data kind, plain and
// compressed, with shifts, graphics planes and georeferencing, into a
// directory.  They are the seed corpus of the fuzz harnesses and the inputs
// of the memory check.
//
// Usage: make_seeds DIRECTORY [HARNESS]
//   With HARNESS fuzz_convert or fuzz_readwrite, each dataset comes after
//   the bytes that harness reads first (command lines, operations), with a
//   few of them.
#include <array>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "dataset_writer.h"

namespace {

struct Seed {
    tdw::DatasetDescription desc;
};

tdw::DatasetDescription base(std::int16_t data_id, int rows, int columns)
{
    tdw::DatasetDescription desc;
    desc.data_id = data_id;
    desc.rows = static_cast<std::int16_t>(rows);
    desc.columns = static_cast<std::int16_t>(columns);
    return desc;
}

// Visible and infrared values over the whole -2047 .. 2047 range, with
// steps small enough for delta codes and jumps that need absolute codes.
int sensor_value(int row, int column)
{
    const int v = (row * 211 + column * 7) % 4095 - 2047;
    return (column % 9 == 0) ? -v : v;
}

int planes_nibble(int row, int column)
{
    if (column < 3)
        return 15;
    return (row + column / 5) % 16;
}

std::vector<Seed> seeds()
{
    std::vector<Seed> out;
    // Rows of 140 bytes and more hold the 136 header bytes in slot 0.
    constexpr int C = 70;

    for (const bool compressed : {false, true}) {
        for (const std::int16_t kind : {tdw::kVisible, tdw::kInfrared}) {
            tdw::DatasetDescription s = base(kind, 5, C);
            s.compressed = compressed;
            s.value = sensor_value;
            s.nibble = planes_nibble;
            out.push_back({s});

            tdw::DatasetDescription raw = base(kind, 4, C);
            raw.compressed = compressed;
            raw.fields["calibration_type"] = 0;
            raw.value = [](int r, int c) { return r * 300 + c * 3; };
            out.push_back({raw});

            tdw::DatasetDescription shifted = base(kind, 6, C);
            shifted.compressed = compressed;
            shifted.fields["vertical_shift"] = 2;
            shifted.fields["horizontal_shift"] = -3;
            shifted.value = [](int r, int c) { return 900 + r * 10 + c; };
            shifted.nibble = [](int r, int c) { return (r + c) % 3 == 0 ? 1 : 4; };
            out.push_back({shifted});

            tdw::DatasetDescription extreme = base(kind, 3, C);
            extreme.compressed = compressed;
            extreme.fields["vertical_shift"] = 32767;
            extreme.fields["horizontal_shift"] = -32768;
            out.push_back({extreme});
        }
    }

    // Graphics runs longer than one pair (256 samples) and a narrow
    // compressed dataset whose header block is mostly padding.
    tdw::DatasetDescription wide = base(tdw::kInfrared, 2, 300);
    wide.compressed = true;
    wide.value = [](int r, int c) { return 1000 + ((r + c) % 50); };
    wide.nibble = [](int, int c) { return c < 280 ? 5 : 2; };
    out.push_back({wide});

    tdw::DatasetDescription narrow = base(tdw::kVisible, 6, 8);
    narrow.compressed = true;
    narrow.value = [](int r, int c) { return r * 8 + c + 1; };
    narrow.nibble = [](int r, int) { return r % 2 ? 8 : 0; };
    out.push_back({narrow});

    // A sea-surface-temperature product (units label without "brightness").
    tdw::DatasetDescription sst = base(tdw::kInfrared, 4, C);
    sst.fields["channel_number"] = 201;
    sst.value = [](int r, int c) { return 900 + r * 40 + c; };
    out.push_back({sst});

    // Ancillary fields: each angle and the scan time.
    for (const std::int16_t channel : {101, 102, 103, 104, 105}) {
        tdw::DatasetDescription s = base(tdw::kAncillary, 4, C);
        s.fields["channel_number"] = channel;
        if (channel == 105)
            s.value = [](int r, int c) { return (r * 100 + c) % 2400 - 30; };
        else
            s.value = [](int r, int c) { return (r * 4001 + c * 97) % 65536; };
        if (channel == 102) {
            s.fields["vertical_shift"] = -1;
            s.fields["horizontal_shift"] = 5;
        }
        out.push_back({s});
    }

    // Cloud bytes, plain and shifted.
    tdw::DatasetDescription cloud = base(tdw::kCloud, 5, 140);
    cloud.value = [](int r, int c) { return (r * 53 + c) % 256; };
    out.push_back({cloud});
    tdw::DatasetDescription cloud_shift = cloud;
    cloud_shift.fields["vertical_shift"] = 1;
    cloud_shift.fields["horizontal_shift"] = -7;
    out.push_back({cloud_shift});

    // Georeferenced grids, linear and Mercator, one across the antimeridian.
    for (const std::int16_t projection : {3, 1}) {
        tdw::DatasetDescription grid = base(tdw::kInfrared, 4, C);
        grid.fields["projection_type"] = projection;
        grid.fields["start_latitude"] = 40 * 128;
        grid.fields["end_latitude"] = 30 * 128;
        grid.fields["start_longitude"] = projection == 1 ? 175 * 128 : -10 * 128;
        grid.fields["end_longitude"] = projection == 1 ? -175 * 128 : 5 * 128;
        grid.value = [](int r, int c) { return 950 + r + c; };
        out.push_back({grid});
    }

    // The orbit start time the stamp prints.
    tdw::DatasetDescription stamped = base(tdw::kInfrared, 3, C);
    stamped.fields["orbit_start_year"] = 2001;
    stamped.fields["orbit_start_day"] = 59;
    stamped.fields["orbit_start_hour_minute"] = 2359;
    stamped.fields["orbit_start_second"] = 59;
    out.push_back({stamped});
    return out;
}

const char* kind_name(std::int16_t data_id)
{
    switch (data_id) {
    case tdw::kVisible:
        return "visible";
    case tdw::kInfrared:
        return "infrared";
    case tdw::kAncillary:
        return "ancillary";
    case tdw::kCloud:
        return "cloud";
    default:
        return "other";
    }
}

} // namespace

// Command lines of fuzz_convert: twelve (kind, value) pairs each; kind 18
// is no option (see fuzz_convert.cpp).
using OptionBytes = std::array<std::uint8_t, 24>;
std::vector<OptionBytes> command_lines()
{
    return {
        {18, 0, 18, 0, 18, 0, 18, 0, 18, 0, 18, 0, 18, 0, 18, 0, 18, 0, 18, 0, 18, 0, 18, 0},
        // -1 dyn -2 r,g,b -3 r,g,b -4 dyn -f -i
        {0, 10, 1, 100, 2, 200, 3, 5, 11, 0, 12, 0, 18, 0, 18, 0, 18, 0, 18, 0, 18, 0, 18, 0},
        // -c 7 -d 3 -m prism -b r,g,b -l 0 -h 30 -t 6.5 -s -u
        {4, 7, 8, 3, 9, 2, 5, 100, 6, 80, 7, 140, 10, 5, 13, 0, 14, 0, 18, 0, 18, 0, 18, 0},
        // -m viridis -c 32 -1 r,g,b -l -40 -h 90
        {9, 5, 4, 32, 0, 77, 6, 0, 7, 223, 18, 0, 18, 0, 18, 0, 18, 0, 18, 0, 18, 0, 18, 0},
        // --reduce 3 -1 dyn -2 r,g,b --under lowest -m cividis
        {15, 3, 0, 1, 1, 90, 17, 10, 9, 6, 18, 0, 18, 0, 18, 0, 18, 0, 18, 0, 18, 0, 18, 0},
        // --fit 6 --under r,g,b -3 dyn -l 4
        {16, 2, 17, 120, 2, 3, 6, 88, 18, 0, 18, 0, 18, 0, 18, 0, 18, 0, 18, 0, 18, 0, 18, 0},
    };
}

// Operations of fuzz_readwrite: eight of (what, pattern x 3 + variable,
// first row, first column, height - 1 + 16 x (width - 1)); see
// fuzz_readwrite.cpp.
using OperationBytes = std::array<std::uint8_t, 40>;
std::vector<OperationBytes> operations()
{
    return {
        // values near the stored ones, a read, planes as bytes, a close and
        // an open, the block written back as it reads, a read
        {0, 0, 0, 0, 0x21, 2, 0, 0, 0, 0x21, 1, 19, 1, 1, 0x32, 3, 0, 0, 0, 0,
         5, 0, 0, 0, 0xFF, 2, 1, 1, 1, 0x32, 4, 0,  0, 0, 0,    4, 0, 0, 0, 0},
        // bad values, values halfway between raw counts, NaN, a close and
        // an open, a write over the last row
        {0, 3, 1,   2, 0x11, 0, 9, 0, 5, 0x07, 0, 12, 2, 2, 0x00, 3, 0, 0, 0, 0,
         0, 6, 255, 0, 0x01, 2, 0, 0, 0, 0xFF, 4, 0,  0, 0, 0,    4, 0, 0, 0, 0},
        // bytes of the data variable, plane bits of every value, a huge
        // value, a ramp
        {1, 18, 0, 0, 0x00, 1, 19, 0, 3, 0x0F, 0, 15, 1, 0, 0x10, 0, 21, 2, 4, 0x33,
         0, 6,  0, 0, 0x77, 3, 0,  0, 0, 0,    2, 0,  0, 0, 0x77, 4, 0,  0, 0, 0},
    };
}

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: make_seeds DIRECTORY [HARNESS]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const std::string harness = argc == 3 ? argv[2] : "";
    try {
        int number = 0;
        for (const Seed& seed : seeds()) {
            char name[96];
            std::snprintf(name, sizeof name, "/%02d-%s-%dx%d%s", number++, kind_name(seed.desc.data_id),
                          seed.desc.rows, seed.desc.columns, seed.desc.compressed ? "-compressed" : "");
            const std::vector<std::uint8_t> dataset = tdw::build_dataset(seed.desc);
            std::vector<std::vector<std::uint8_t>> prefixes;
            if (harness == "fuzz_convert")
                for (const OptionBytes& options : command_lines())
                    prefixes.emplace_back(options.begin(), options.end());
            else if (harness == "fuzz_readwrite")
                for (const OperationBytes& ops : operations())
                    prefixes.emplace_back(ops.begin(), ops.end());
            if (prefixes.empty())
                tdw::write_bytes(dir + name + ".tdf", dataset);
            for (std::size_t k = 0; k < prefixes.size(); ++k) {
                std::vector<std::uint8_t> bytes = prefixes[k];
                bytes.insert(bytes.end(), dataset.begin(), dataset.end());
                tdw::write_bytes(dir + name + "-" + std::to_string(k), bytes);
            }
        }
        std::printf("%d datasets in %s\n", number, dir.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
