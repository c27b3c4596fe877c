// make_archive.cpp - writes an archive of satellite passes for the batch
// tests: datasets under ARCHIVE/<satellite>/<year>/<day>/ of several
// satellites, kinds and dates, plain and compressed.  Among passes 0 to 59:
// three damaged datasets (6: its compressed stream cut, 15: its data area
// cut, 26: its header cut), two files that are no dataset at all (38: a
// text, 44: empty), one name with a blank (12) and one dataset named
// without ".tdf" (50).  The intact form of each damaged dataset goes to the
// same relative path under SPARE, so that a test can repair it.
//
// Prints one line per file, tab-separated: the path, the satellite, the
// data kind and the date as year x 1000 + day ("-" for the three fields when
// the header cannot be read), and "intact", "damaged" or "other".
//
// Usage: make_archive ARCHIVE SPARE [FIRST COUNT] [--intact]
//   passes FIRST to FIRST + COUNT - 1 (default 0 to 59); --intact: no
//   damaged datasets and no other files.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "dataset_writer.h"

namespace {

namespace fs = std::filesystem;

struct satellite {
    const char* name;
    std::int16_t code;
};

constexpr satellite satellites[] = {{"hesk-14", static_cast<std::int16_t>(0xD5D1)},
                                    {"hesk-15", static_cast<std::int16_t>(0xD5D2)},
                                    {"hesk-16", static_cast<std::int16_t>(0xD5D3)}};

struct kind {
    const char* name;
    std::int16_t data_id;
    std::int16_t channel; // 0: the writer's default
    bool compressed;
};

constexpr kind kinds[] = {
    {"infrared", tdw::kInfrared, 0, false},     {"infrared", tdw::kInfrared, 0, true},
    {"visible", tdw::kVisible, 0, true},        {"cloud", tdw::kCloud, 0, false},
    {"scan time", tdw::kAncillary, 105, false},
};

enum class damage { none, cut_stream, short_area, cut_header, not_a_dataset, empty };

tdw::DatasetDescription describe(int n, const satellite& sat, const kind& k, int year, int day)
{
    tdw::DatasetDescription desc;
    desc.data_id = k.data_id;
    desc.rows = static_cast<std::int16_t>(4 + n % 3);
    desc.columns = static_cast<std::int16_t>(k.data_id == tdw::kCloud ? 140 : 70);
    desc.compressed = k.compressed;
    const int span = k.data_id == tdw::kCloud ? 256 : 1500;
    const int base = k.data_id == tdw::kCloud ? 0 : 200;
    desc.value = [=](int r, int c) { return (r * 97 + c * 13 + n * 31) % span + base; };
    desc.nibble = [n](int r, int c) { return (r + c + n) % 7 == 0 ? 1 : 0; };
    desc.fields["satellite_id"] = sat.code;
    if (k.channel != 0)
        desc.fields["channel_number"] = k.channel;
    // Some passes carry the two-digit form of the year.
    desc.fields["orbit_start_year"] = static_cast<std::int16_t>(n % 4 == 0 ? year % 100 : year);
    desc.fields["orbit_start_day"] = static_cast<std::int16_t>(day);
    desc.fields["orbit_start_hour_minute"] = static_cast<std::int16_t>(100 * (n % 24) + n % 60);
    return desc;
}

std::vector<std::uint8_t> damaged(const tdw::DatasetDescription& desc, damage d)
{
    switch (d) {
    case damage::cut_stream:
        return tdw::build_truncated(desc, 1024 + 30);
    case damage::short_area:
        return tdw::build_truncated(desc, tdw::build_dataset(desc).size() - 70);
    case damage::cut_header:
        return tdw::build_truncated(desc, 40);
    case damage::not_a_dataset:
        return {'n', 'o', 't', ' ', 'a', ' ', 'p', 'a', 's', 's', '\n'};
    case damage::empty:
        return {};
    case damage::none:
        break;
    }
    return tdw::build_dataset(desc);
}

void write(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    fs::create_directories(path.parent_path());
    tdw::write_bytes(path.string(), bytes);
}

} // namespace

int main(int argc, char** argv)
{
    bool intact = false;
    if (argc > 1 && std::strcmp(argv[argc - 1], "--intact") == 0) {
        intact = true;
        --argc;
    }
    if (argc != 3 && argc != 5) {
        std::fprintf(stderr, "usage: make_archive ARCHIVE SPARE [FIRST COUNT] [--intact]\n");
        return 2;
    }
    try {
        const fs::path archive = argv[1];
        const fs::path spare = argv[2];
        const int first = argc == 5 ? std::atoi(argv[3]) : 0;
        const int count = argc == 5 ? std::atoi(argv[4]) : 60;
        // Dates around the turn of two years and a leap day.
        constexpr int dates[][2] = {{2023, 364}, {2023, 365}, {2024, 1},  {2024, 59},
                                    {2024, 60},  {2024, 61},  {2024, 91}, {2024, 92}};
        for (int n = first; n < first + count; ++n) {
            const satellite& sat = satellites[n % 3];
            const kind& k = kinds[n % 5];
            const int year = dates[n % 8][0];
            const int day = dates[n % 8][1];
            const damage d = intact    ? damage::none
                             : n == 6  ? damage::cut_stream
                             : n == 15 ? damage::short_area
                             : n == 26 ? damage::cut_header
                             : n == 38 ? damage::not_a_dataset
                             : n == 44 ? damage::empty
                                       : damage::none;
            // One name with a blank, as archives have; one without ".tdf".
            const char* pattern = n == 12   ? "%s/%d/%03d/pass %02d.tdf"
                                  : n == 50 ? "%s/%d/%03d/pass-%02d.dat"
                                            : "%s/%d/%03d/pass-%02d.tdf";
            char name[80];
            std::snprintf(name, sizeof name, pattern, sat.name, year, day, n);
            const tdw::DatasetDescription desc = describe(n, sat, k, year, day);
            write(archive / name, damaged(desc, d));
            if (d != damage::none)
                write(spare / name, tdw::build_dataset(desc));
            const bool header = d == damage::none || d == damage::cut_stream || d == damage::short_area;
            const bool other = d == damage::not_a_dataset || d == damage::empty;
            std::printf("%s\t%s\t%s\t%s\t%s\n", (archive / name).c_str(), header ? sat.name : "-",
                        header ? k.name : "-", header ? std::to_string(year * 1000 + day).c_str() : "-",
                        d == damage::none ? "intact"
                        : other           ? "other"
                                          : "damaged");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_archive: %s\n", e.what());
        return 1;
    }
    return 0;
}
