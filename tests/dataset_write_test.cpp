// Writing blocks of the data and graphics variables through td_varput_*:
// the table of write cases (every kind, values between stored values,
// missing values, shifts, read-only datasets, blocks at and over the
// edges, and each refusal), the round trip of every stored value, and the
// nearest-value rule against a search of all stored values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "calibration.h"
#include "dataset_writer.h"
#include "library_fixture.h"
#include "tidewell.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Fields = std::map<std::string, std::int16_t, std::less<>>;

constexpr float bad = TD_BAD_VALUE;
constexpr float nan = std::numeric_limits<float>::quiet_NaN();

bool same_bits(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// A 3 x 140 dataset of a kind: values from `value` and planes c % 16.
tdw::DatasetDescription dataset(std::int16_t data_id, Fields fields = {}, bool compressed = false)
{
    tdw::DatasetDescription d;
    d.data_id = data_id;
    d.rows = 3;
    d.columns = 140;
    d.compressed = compressed;
    d.fields = std::move(fields);
    d.value = [data_id](int r, int c) {
        return data_id == tdw::kCloud ? (r * 50 + c) % 256 : 900 + r * 10 + c;
    };
    d.nibble = [](int, int c) { return c % 16; };
    return d;
}

class Varput : public tdtest::LibraryTest {
protected:
    // Reads a block of either variable as floats (bytes come back as floats).
    static std::vector<float> read(int id, int varid, const std::uint32_t start[2],
                                   const std::uint32_t count[2], int expect = TD_NOERR)
    {
        std::vector<float> out(std::size_t{count[0]} * count[1]);
        EXPECT_EQ(td_varget_float(id, varid, start, count, out.data()), expect);
        return out;
    }
};

// ------------------------------------------------------- the write cases

TEST_F(Varput, WriteCases)
{
    using td::temperature_celsius;
    struct Case {
        const char* what;
        tdw::DatasetDescription desc;
        int varid;
        bool as_bytes; // td_varput_byte with the values as bytes
        std::uint32_t start[2], count[2];
        std::vector<float> values;
        int status;
        std::vector<float> read_back; // when the status is 0
        int mode = TD_WRITE;
        std::size_t cut = 0; // the file cut to this many bytes
    };
    const auto ir = [](Fields f = {}) { return dataset(tdw::kInfrared, std::move(f)); };
    const Fields raw{{"calibration_type", 0}};
    tdw::DatasetDescription narrow = dataset(tdw::kInfrared); // 20-byte rows: rows 0 to 5 lie over the header
    narrow.rows = 20;
    narrow.columns = 10;
    const Case cases[] = {
        // Values between stored values take the nearest (2.5 counts, halfway,
        // the one farther from zero); the bad value writes a missing sample;
        // half a step beyond the ends is still the end.
        {"infrared temperatures",
         ir(),
         0,
         false,
         {1, 2},
         {1, 4},
         {20.02f, -3.2f, bad, 69.47f},
         0,
         {temperature_celsius(1384), temperature_celsius(920), bad, temperature_celsius(2047)}},
        {"compressed infrared",
         dataset(tdw::kInfrared, {}, true),
         0,
         false,
         {2, 138},
         {1, 2},
         {-95.17f, 0.01f},
         0,
         {temperature_celsius(1), 0.0f}},
        {"raw counts",
         ir(raw),
         0,
         false,
         {0, 0},
         {2, 3},
         {2.5f, 0.4f, 1023.5f, -0.5f, bad, 7.0f},
         0,
         {3.0f, 0.0f, 1023.0f, 0.0f, bad, 7.0f}},
        {"visible albedo",
         dataset(tdw::kVisible),
         0,
         false,
         {0, 5},
         {1, 2},
         {10.0f, 99.97f},
         0,
         {td::albedo_percent(206), td::albedo_percent(2047)}},
        {"angles",
         dataset(tdw::kAncillary, {{"channel_number", 102}}),
         0,
         false,
         {0, 0},
         {1, 3},
         {45.3f, 0.0f, bad},
         0,
         {5798.0f / 128, 0.0f, bad}},
        {"scan time",
         dataset(tdw::kAncillary, {{"channel_number", 105}}),
         0,
         false,
         {1, 0},
         {1, 3},
         {12.5f, 2.0f, -0.5f},
         0,
         {td::scan_time_hours(1230), td::scan_time_hours(200), td::scan_time_hours(-30)}},
        {"cloud floats",
         dataset(tdw::kCloud),
         0,
         false,
         {0, 0},
         {1, 3},
         {7.4f, 255.5f, -0.5f},
         0,
         {7.0f, 255.0f, 0.0f}},
        {"cloud bytes", dataset(tdw::kCloud), 0, true, {2, 139}, {1, 1}, {200.0f}, 0, {200.0f}},
        {"planes as bytes", ir(), 1, true, {0, 0}, {3, 1}, {1, 8, 15}, 0, {1, 8, 15}},
        {"planes as floats", ir(), 1, false, {0, 0}, {1, 2}, {3.4f, 15.5f}, 0, {3.0f, 15.0f}},
        {"a block ending at the last row and column",
         ir(),
         0,
         false,
         {2, 139},
         {1, 1},
         {20.0f},
         0,
         {temperature_celsius(1384)}},
        {"planes of a shifted dataset", ir({{"vertical_shift", 2}}), 1, true, {0, 0}, {1, 1}, {4}, 0, {4}},
        // Refusals: nothing is written.
        {"read-only dataset", ir(), 0, false, {0, 0}, {1, 1}, {20.0f}, TD_EREADONLY, {}, TD_READONLY},
        {"block over the last row", ir(), 0, false, {2, 0}, {2, 1}, {20.0f, 20.0f}, TD_EINDEX, {}},
        {"block over the last column", ir(), 1, true, {0, 139}, {1, 2}, {1, 1}, TD_EINDEX, {}},
        {"no variable 2", ir(), 2, false, {0, 0}, {1, 1}, {1.0f}, TD_EBADVARID, {}},
        {"no planes in angles", dataset(tdw::kAncillary), 1, true, {0, 0}, {1, 1}, {1}, TD_EBADVARID, {}},
        {"shifted data",
         ir({{"horizontal_shift", -1}}),
         0,
         false,
         {0, 0},
         {1, 1},
         {20.0f},
         TD_ESHIFTWRITE,
         {}},
        {"beyond the raw counts", ir(raw), 0, false, {0, 0}, {1, 2}, {5.0f, 1023.6f}, TD_ERANGE, {}},
        {"not a number", ir(), 0, false, {0, 0}, {1, 1}, {nan}, TD_ERANGE, {}},
        {"bytes of temperatures", ir(), 0, true, {0, 0}, {1, 1}, {20}, TD_ERANGE, {}},
        {"plane bits beyond 4 planes", ir(), 1, true, {0, 0}, {1, 1}, {16}, TD_ERANGE, {}},
        {"a missing cloud byte", dataset(tdw::kCloud), 0, false, {0, 0}, {1, 1}, {bad}, TD_ERANGE, {}},
        {"a missing scan time",
         dataset(tdw::kAncillary, {{"channel_number", 105}}),
         0,
         false,
         {0, 0},
         {1, 1},
         {bad},
         TD_ERANGE,
         {}},
        {"no such channel",
         dataset(tdw::kAncillary, {{"channel_number", 110}}),
         0,
         false,
         {0, 0},
         {1, 1},
         {1.0f},
         TD_ECHANNEL,
         {}},
        {"unknown compression",
         ir({{"compression_type", 5}}),
         0,
         false,
         {0, 0},
         {1, 1},
         {20.0f},
         TD_ECOMPTYPE,
         {}},
        {"a file shorter than its header says",
         ir(),
         0,
         false,
         {2, 10},
         {1, 1},
         {20.0f},
         TD_EREADDATA,
         {},
         TD_WRITE,
         140 * 2 * 3 + 10},
        {"a damaged compressed stream",
         dataset(tdw::kInfrared, {}, true),
         1,
         true,
         {0, 0},
         {1, 1},
         {1},
         TD_EREADDATA,
         {},
         TD_WRITE,
         1100},
        {"a sample over the header bytes", narrow, 0, false, {5, 7}, {1, 1}, {20.0f}, TD_EWRITEDATA, {}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = tdw::build_dataset(c.desc);
        if (c.cut > 0)
            bytes.resize(c.cut);
        const std::string path = write("w" + std::to_string(n++) + ".tdf", bytes);
        const int id = open_ok(path, c.mode);
        const std::uint32_t all[2]{std::uint32_t(c.desc.rows), std::uint32_t(c.desc.columns)},
            origin[2]{0, 0};
        const bool planes = c.desc.data_id <= tdw::kInfrared && c.status == TD_NOERR;
        const std::vector<float> other_before =
            planes ? read(id, 1 - c.varid, origin, all) : std::vector<float>{};

        int status = 0;
        if (c.as_bytes) {
            const Bytes values(c.values.begin(), c.values.end());
            status = td_varput_byte(id, c.varid, c.start, c.count, values.data());
        } else {
            status = td_varput_float(id, c.varid, c.start, c.count, c.values.data());
        }
        EXPECT_EQ(status, c.status);
        if (status == TD_NOERR) {
            EXPECT_TRUE(same_bits(read(id, c.varid, c.start, c.count), c.read_back));
            // The other variable keeps what it held: planes under new data,
            // data under new planes.
            if (planes) {
                EXPECT_TRUE(same_bits(read(id, 1 - c.varid, origin, all), other_before));
            }
        }
        ASSERT_EQ(td_close(id), TD_NOERR);
        if (status != TD_NOERR) {
            EXPECT_EQ(tdtest::read_file(path), std::string(bytes.begin(), bytes.end()));
            continue;
        }
        // Written back: the file reads the same after it is opened again.
        const int again = open_ok(path);
        EXPECT_TRUE(same_bits(read(again, c.varid, c.start, c.count), c.read_back));
        if (planes) {
            EXPECT_TRUE(same_bits(read(again, 1 - c.varid, origin, all), other_before));
        }
        ASSERT_EQ(td_close(again), TD_NOERR);
    }
}

// A plain dataset whose rows are narrower than the 136 header bytes has its
// first rows over them: writing there would change the header.
TEST_F(Varput, RowsOverTheHeaderAreRefused)
{
    tdw::DatasetDescription d = dataset(tdw::kInfrared);
    d.rows = 20;
    d.columns = 10; // 20-byte rows: rows 0 to 5 share bytes with the header
    const std::string path = write("narrow.tdf", d);
    const Bytes before = tdw::build_dataset(d);
    const int id = open_ok(path, TD_WRITE);
    const std::uint32_t one[2]{1, 1};
    const float value = 20.0f;
    const std::uint32_t under[2]{5, 7}, clear[2]{5, 8}; // bytes 134 and 136
    EXPECT_EQ(td_varput_float(id, 0, under, one, &value), TD_EWRITEDATA);
    EXPECT_EQ(td_varput_float(id, 0, clear, one, &value), TD_NOERR);
    ASSERT_EQ(td_close(id), TD_NOERR);
    const std::string after = tdtest::read_file(path);
    EXPECT_EQ(after.substr(0, 136), std::string(before.begin(), before.begin() + 136));
}

// --------------------------------------------- every stored value, both ways

// What a kind's stored values read as, and the value written back.
struct Kind {
    const char* what;
    tdw::DatasetDescription desc;
};

std::vector<Kind> every_stored_value()
{
    std::vector<Kind> kinds;
    // Every sample word: 16 rows of 4096; the value is bits 15-4 of the
    // word (sign and magnitude), the planes bits 3-0.
    const auto word_value = [](int r, int c) {
        const int word = r * 4096 + c;
        const int magnitude = (word >> 4) & 0x7FF;
        return (word & 0x8000) ? -magnitude : magnitude;
    };
    const auto word_nibble = [](int, int c) { return c & 0xF; };
    for (const std::int16_t data_id : {tdw::kVisible, tdw::kInfrared}) {
        for (const std::int16_t calibration : {0, 2}) {
            tdw::DatasetDescription d;
            d.data_id = data_id;
            d.rows = 16;
            d.columns = 4096;
            d.fields = {{"calibration_type", calibration}};
            d.value = word_value;
            d.nibble = word_nibble;
            kinds.push_back({calibration == 0 ? "raw counts" : data_id == 0 ? "albedo" : "temperature", d});
        }
    }
    // Every 16-bit ancillary value: 256 x 256.
    for (const std::int16_t channel : {101, 105}) {
        tdw::DatasetDescription d;
        d.data_id = tdw::kAncillary;
        d.rows = 256;
        d.columns = 256;
        d.fields = {{"channel_number", channel}};
        d.value = [](int r, int c) { return r * 256 + c; };
        kinds.push_back({channel == 101 ? "angles" : "scan time", d});
    }
    tdw::DatasetDescription cloud;
    cloud.data_id = tdw::kCloud;
    cloud.rows = 1;
    cloud.columns = 256;
    cloud.value = [](int, int c) { return c; };
    kinds.push_back({"cloud bytes", cloud});
    return kinds;
}

// Each stored value read and written back reads the same; the file written
// back reads the same too.  Then every value halfway between two neighbours
// (as a float), and values just beyond the ends, are written: each must come
// back as the nearest of all values the kind reads as, halfway ones as the
// one farther from zero, and those beyond half a step past the ends refused.
TEST_F(Varput, EveryStoredValueRoundTripsAndEveryValueTakesTheNearest)
{
    for (const Kind& kind : every_stored_value()) {
        SCOPED_TRACE(kind.what);
        const std::string path = write(std::string(kind.what) + ".tdf", kind.desc);
        const std::uint32_t origin[2]{0, 0};
        const std::uint32_t all[2]{std::uint32_t(kind.desc.rows), std::uint32_t(kind.desc.columns)};
        int id = open_ok(path, TD_WRITE);
        const std::vector<float> values = read(id, 0, origin, all);
        const std::vector<float> planes =
            kind.desc.data_id <= 1 ? read(id, 1, origin, all) : std::vector<float>{};
        ASSERT_EQ(td_varput_float(id, 0, origin, all, values.data()), TD_NOERR);
        EXPECT_TRUE(same_bits(read(id, 0, origin, all), values));
        ASSERT_EQ(td_close(id), TD_NOERR);
        id = open_ok(path, TD_WRITE);
        EXPECT_TRUE(same_bits(read(id, 0, origin, all), values));
        if (!planes.empty()) {
            EXPECT_TRUE(same_bits(read(id, 1, origin, all), planes));
        }

        // The values the kind reads as, in order, the bad value aside.
        std::vector<float> sorted;
        for (const float v : values)
            if (v != bad)
                sorted.push_back(v);
        std::sort(sorted.begin(), sorted.end());
        sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
        std::vector<float> tries;
        for (std::size_t i = 0; i + 1 < sorted.size(); ++i) {
            const double middle = (double{sorted[i]} + sorted[i + 1]) / 2;
            tries.push_back(static_cast<float>(middle));
            tries.push_back(std::nextafter(static_cast<float>(middle), sorted[i]));
        }
        const auto nearest = [&](float x) {
            const auto above = std::lower_bound(sorted.begin(), sorted.end(), x);
            float best = above == sorted.end() ? sorted.back() : *above;
            if (above != sorted.begin()) {
                const float below = *(above - 1);
                const double d_below = std::fabs(double{below} - x), d_best = std::fabs(double{best} - x);
                if (above == sorted.end() || d_below < d_best ||
                    (d_below == d_best && std::fabs(below) > std::fabs(best)))
                    best = below;
            }
            return best;
        };
        for (std::size_t at = 0; at < tries.size(); at += all[1]) {
            const std::uint32_t n = std::uint32_t(std::min<std::size_t>(all[1], tries.size() - at));
            const std::uint32_t count[2]{1, n};
            ASSERT_EQ(td_varput_float(id, 0, origin, count, tries.data() + at), TD_NOERR);
            const std::vector<float> got = read(id, 0, origin, count);
            for (std::uint32_t k = 0; k < n; ++k)
                ASSERT_EQ(got[k], nearest(tries[at + k])) << "writing " << tries[at + k];
        }
        const double low_step = double{sorted[1]} - sorted[0];
        const double high_step = double{sorted.back()} - sorted[sorted.size() - 2];
        const std::uint32_t one[2]{1, 1};
        for (const double beyond :
             {double{sorted.front()} - low_step * 0.51, double{sorted.back()} + high_step * 0.51}) {
            const float x = static_cast<float>(beyond);
            EXPECT_EQ(td_varput_float(id, 0, origin, one, &x), TD_ERANGE) << beyond;
        }
        ASSERT_EQ(td_close(id), TD_NOERR);
    }
}

} // namespace
