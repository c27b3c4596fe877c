// The library's fast paths against the plain rules they stand for: the
// compile-time calibration tables, whole-row decoding of compressed data,
// row reads beside buffered header reads, and the expansion that leaves
// rows without plane bits as they are.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "calibration.h"
#include "codec.h"
#include "dataset_writer.h"
#include "tidewell.h"

namespace {

std::uint32_t bits(float f)
{
    std::uint32_t b = 0;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// The signed data value of a sample word, by its definition.
int data_value(std::uint16_t word)
{
    const int magnitude = (word >> 4) & 0x07FF;
    return (word & 0x8000) ? -magnitude : magnitude;
}

// Every sample word, under each of the three calibrations, gives to the bit
// what the single conversion gives for its data value.
TEST(FastPaths, CalibrationTablesMatchTheConversionsForEveryWord)
{
    struct selection {
        std::int16_t calibration_type, data_id;
        float (*convert)(int) noexcept;
    };
    const selection selections[] = {
        {0, 1, td::raw_count},           {0, 0, td::raw_count},           {2, 0, td::albedo_percent},
        {2, 1, td::temperature_celsius}, {1, 1, td::temperature_celsius}, {-7, 0, td::albedo_percent},
    };
    std::vector<std::uint16_t> words(65536);
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<std::uint16_t>(i);
    std::vector<float> out(words.size());
    for (const selection& s : selections) {
        ASSERT_EQ(td::calibrate(out, words, s.calibration_type, s.data_id), TD_NOERR);
        int mismatches = 0;
        for (std::size_t i = 0; i < words.size(); ++i)
            if (bits(out[i]) != bits(s.convert(data_value(words[i]))) && ++mismatches < 5)
                ADD_FAILURE() << "word " << i << " calibration " << s.calibration_type << " data_id "
                              << s.data_id << ": " << out[i];
        EXPECT_EQ(mismatches, 0);
    }
}

// A row of data codes decoded at once (sixteen delta codes at a time where
// they allow it), with and without its values wanted, against the
// code-by-code decoder: the same values, bytes taken, last value and
// refusal.  Runs of deltas that touch a range end exactly, then random
// streams along the range ends, with and without the first code of the
// section, cut short or followed by other bytes.
TEST(FastPaths, RowDecodingMatchesTheCodeByCodeDecoder)
{
    using td::codec::DecodeStatus;
    struct Stream {
        std::vector<std::uint8_t> codes;
        std::size_t n;
        int previous;
        bool first;
    };
    const auto deltas = [](std::initializer_list<std::pair<int, int>> runs) {
        std::vector<std::uint8_t> codes;
        for (const auto& [d, times] : runs)
            codes.insert(codes.end(), std::size_t(times), static_cast<std::uint8_t>(d < 0 ? 0x40 | -d : d));
        return codes;
    };
    std::vector<Stream> streams = {
        {deltas({{1, 16}}), 16, 2032, false},          // ends on 2048
        {deltas({{1, 16}}), 16, 2031, false},          // ends on 2047
        {deltas({{-1, 16}}), 16, -2032, false},        // ends on -2048
        {deltas({{1, 8}, {-1, 8}}), 16, 2040, false},  // touches 2048 and comes back
        {deltas({{1, 8}, {-1, 8}}), 16, 2039, false},  // touches 2047
        {deltas({{-1, 8}, {1, 8}}), 16, -2040, false}, // touches -2048
        {deltas({{63, 16}, {-63, 16}}), 32, 1000, false},
    };

    std::mt19937 rng(11);
    for (int round = 0; round < 3000; ++round) {
        Stream s{{}, 1 + rng() % 70, static_cast<int>(rng() % 4095) - 2047, round % 7 == 0};
        // Mostly deltas, small or large, walking towards the range end
        // nearest the value, towards 0, or either way but never past a
        // limit (the range end, or one beyond it); an absolute code now and
        // then, near an end or anywhere.
        const unsigned walk = rng() % 3, widest = round % 2 ? 4 : 64;
        const int limit = 2047 + int(rng() % 2);
        int v = s.previous;
        for (std::size_t c = 0; c < s.n + 4; ++c) {
            const unsigned pick = rng() % 64;
            if (pick == 0 || (s.first && c == 0)) {
                v = (pick % 2 ? 2047 - int(rng() % 40) : int(rng() % 4095) - 2047) * (rng() % 2 ? 1 : -1);
                const int m = v < 0 ? -v : v;
                s.codes.push_back(static_cast<std::uint8_t>(0x80 | (v < 0 ? 0x08 : 0) | (m >> 8)));
                s.codes.push_back(static_cast<std::uint8_t>(m & 0xFF));
            } else {
                int d = static_cast<int>(rng() % widest);
                const bool outwards = walk == 0 || (walk == 2 && rng() % 2);
                const bool down = (v < 0) == outwards;
                if (walk == 2 && outwards)
                    d = std::min(d, limit - (v < 0 ? -v : v));
                v += down ? -d : d;
                s.codes.push_back(static_cast<std::uint8_t>((down ? 0x40 : 0) | d));
            }
        }
        if (round % 3 == 1)
            s.codes.resize(rng() % s.codes.size());
        streams.push_back(std::move(s));
    }

    for (std::size_t k = 0; k < streams.size(); ++k) {
        const Stream& s = streams[k];
        SCOPED_TRACE("stream " + std::to_string(k));
        // The code-by-code decoder, primed with the value carried in.
        std::vector<std::uint8_t> primed = s.codes;
        const int m = s.previous < 0 ? -s.previous : s.previous;
        if (!s.first)
            primed.insert(primed.begin(),
                          {static_cast<std::uint8_t>(0x80 | (s.previous < 0 ? 0x08 : 0) | (m >> 8)),
                           static_cast<std::uint8_t>(m & 0xFF)});
        td::codec::SpanSource source(primed);
        td::codec::ValueDecoder reference;
        int value = 0;
        if (!s.first && reference.next(source, value) != DecodeStatus::ok)
            FAIL() << "the primer did not decode";
        DecodeStatus expect = DecodeStatus::ok;
        std::vector<std::uint16_t> words;
        while (words.size() < s.n && (expect = reference.next(source, value)) == DecodeStatus::ok)
            words.push_back(td::codec::value_word(value));

        int carried = s.previous, carried_bare = s.previous;
        std::vector<std::uint16_t> got(s.n);
        const td::codec::RowScan scan =
            td::codec::decode_value_row(s.codes, s.n, carried, s.first, got.data());
        const td::codec::RowScan bare =
            td::codec::decode_value_row(s.codes, s.n, carried_bare, s.first, nullptr);
        ASSERT_EQ(scan.status, expect);
        ASSERT_EQ(bare.status, expect);
        if (expect != DecodeStatus::ok)
            continue;
        EXPECT_EQ(got, words);
        EXPECT_EQ(scan.consumed, source.position() - (s.first ? 0 : 2));
        EXPECT_EQ(bare.consumed, scan.consumed);
        EXPECT_EQ(carried, value);
        EXPECT_EQ(carried_bare, value);
    }
}

class FastPathFiles : public ::testing::Test {
protected:
    std::string path_ = ::testing::TempDir() + "fast_paths_" + std::to_string(getpid()) + ".tdf";
    void TearDown() override { std::remove(path_.c_str()); }
};

int value_at(int r, int c)
{
    return ((r * 37 + c * 11) % 1000) + 1; // raw counts are 1 .. 1024
}

// Plane bits only in every third row and at a few columns.
int nibble_at(int r, int c)
{
    return (r % 3 == 1 && c % 5 < 2) ? (r + c) % 15 + 1 : 0;
}

// Rows read between header reads, in a compressed dataset whose rows
// alternate between having plane bits and having none, and in its plain
// twin: both variables come back as written, row after row.
TEST_F(FastPathFiles, RowsWithAndWithoutPlaneBitsReadBackExactly)
{
    for (const bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "compressed" : "plain");
        tdw::DatasetDescription desc;
        desc.data_id = tdw::kInfrared;
        desc.rows = 9;
        desc.columns = 700; // rows wider than the 1024-byte header block
        desc.compressed = compressed;
        desc.fields["calibration_type"] = 0; // raw counts: value - 1
        desc.value = value_at;
        desc.nibble = nibble_at;
        tdw::write_dataset(path_, desc);

        int id = -1;
        ASSERT_EQ(td_open(path_.c_str(), TD_READONLY, &id), TD_NOERR);
        std::vector<float> data(700);
        std::vector<std::uint8_t> planes(700);
        for (std::uint32_t r = 0; r < 9; ++r) {
            const std::uint32_t start[2] = {r, 0};
            const std::uint32_t count[2] = {1, 700};
            char text[32] = {};
            ASSERT_EQ(td_attget_text(id, 0, "data_id", text), TD_NOERR);
            EXPECT_STREQ(text, "infrared");
            ASSERT_EQ(td_varget_byte(id, 1, start, count, planes.data()), TD_NOERR);
            ASSERT_EQ(td_varget_float(id, 0, start, count, data.data()), TD_NOERR);
            for (int c = 0; c < 700; ++c) {
                ASSERT_EQ(data[static_cast<std::size_t>(c)], static_cast<float>(value_at(int(r), c) - 1))
                    << r << "," << c;
                ASSERT_EQ(planes[static_cast<std::size_t>(c)], nibble_at(int(r), c)) << r << "," << c;
            }
        }
        EXPECT_EQ(td_close(id), TD_NOERR);
    }
}

// Rows are read from the file itself each time: a row missing from a cut
// file fails; once the rest of the file is appended, the open dataset
// refuses the changed file and a new open reads the row.
TEST_F(FastPathFiles, RowAppendedAfterAFailedReadIsReadByANewOpen)
{
    tdw::DatasetDescription desc;
    desc.data_id = tdw::kInfrared;
    desc.rows = 4;
    desc.columns = 600;
    desc.fields["calibration_type"] = 0;
    desc.value = value_at;
    const std::vector<std::uint8_t> whole = tdw::build_dataset(desc);
    const std::size_t cut = whole.size() - 100;
    tdw::write_bytes(path_, std::vector<std::uint8_t>(whole.begin(), whole.begin() + long(cut)));

    int id = -1;
    ASSERT_EQ(td_open(path_.c_str(), TD_READONLY, &id), TD_NOERR);
    std::vector<float> data(600);
    const std::uint32_t count[2] = {1, 600};
    const std::uint32_t row2[2] = {2, 0};
    const std::uint32_t row3[2] = {3, 0};
    ASSERT_EQ(td_varget_float(id, 0, row2, count, data.data()), TD_NOERR);
    EXPECT_EQ(td_varget_float(id, 0, row3, count, data.data()), TD_EREADDATA);

    std::FILE* f = std::fopen(path_.c_str(), "ab");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(whole.data() + cut, 1, whole.size() - cut, f), whole.size() - cut);
    ASSERT_EQ(std::fclose(f), 0);

    // The file has grown under the open dataset: it is not the file whose
    // header was read, and a new open reads the appended row.
    EXPECT_EQ(td_varget_float(id, 0, row3, count, data.data()), TD_EUNCOMPFILE);
    EXPECT_EQ(td_close(id), TD_NOERR);
    ASSERT_EQ(td_open(path_.c_str(), TD_READONLY, &id), TD_NOERR);
    ASSERT_EQ(td_varget_float(id, 0, row3, count, data.data()), TD_NOERR);
    EXPECT_EQ(data[599], static_cast<float>(value_at(3, 599) - 1));
    EXPECT_EQ(td_close(id), TD_NOERR);
}

} // namespace
