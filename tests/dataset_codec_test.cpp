// The coder of the compressed data area: byte-level codes, graphics runs,
// and the refusals of corrupt streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "codec.h"

namespace {

using td::codec::DecodeStatus;

struct Bytes {
    std::vector<std::uint8_t> v;
    bool put_byte(unsigned char b)
    {
        v.push_back(b);
        return true;
    }
};

std::vector<std::uint8_t> code_bytes(int value, int previous, bool first)
{
    const auto code = td::codec::encode_value(value, previous, first);
    return {code.bytes.begin(), code.bytes.begin() + static_cast<std::ptrdiff_t>(code.size)};
}

TEST(Codec, ValueCodes)
{
    struct Case {
        int value, previous;
        bool first;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {-1000, 0, true, {0x8B, 0xE8}},  {1000, 0, true, {0x83, 0xE8}},
        {163, 100, false, {0x3F}},                                   // delta +63
        {37, 100, false, {0x7F}},                                    // delta -63
        {164, 100, false, {0x80, 0xA4}},                             // delta +64: absolute
        {36, 100, false, {0x80, 0x24}},                              // delta -64: absolute
        {100, 100, false, {0x00}},       {5, 5, true, {0x80, 0x05}}, // the first sample is always absolute
        {-2047, 0, true, {0x8F, 0xFF}},  {2047, 2047, false, {0x00}},
        {0, -1, false, {0x01}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(code_bytes(c.value, c.previous, c.first), c.bytes) << c.value << " after " << c.previous;
}

TEST(Codec, DecodesWhatItEncodesAcrossRows)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> any(-2047, 2047), step(-70, 70);
    std::vector<int> values;
    int v = any(rng);
    for (int i = 0; i < 20000; ++i) {
        values.push_back(v);
        v = (i % 3 == 0) ? any(rng) : std::clamp(v + step(rng), -2047, 2047);
    }
    Bytes out;
    td::codec::ValueEncoder enc;
    for (int x : values)
        ASSERT_TRUE(enc.put(out, x));
    td::codec::SpanSource src(out.v);
    td::codec::ValueDecoder dec;
    for (int x : values) {
        int got = 9999;
        ASSERT_EQ(dec.next(src, got), DecodeStatus::ok);
        ASSERT_EQ(got, x);
    }
    EXPECT_EQ(src.position(), out.v.size());
}

TEST(Codec, RefusesCorruptDataCodes)
{
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        int good_values;
        DecodeStatus status;
    };
    const Case cases[] = {
        {"empty", {}, 0, DecodeStatus::truncated},
        {"absolute cut short", {0x83}, 0, DecodeStatus::truncated},
        {"first code a delta", {0x05}, 0, DecodeStatus::delta_first},
        {"delta above 2047", {0x87, 0xF0, 0x3F}, 1, DecodeStatus::out_of_range},
        {"delta below -2047", {0x8F, 0xF0, 0x7F}, 1, DecodeStatus::out_of_range},
        {"delta up to 2047", {0x87, 0xF0, 0x0F, 0x7F}, 3, DecodeStatus::truncated},
        {"bits 6-4 ignored", {0xF3, 0xE8}, 1, DecodeStatus::truncated},
    };
    for (const auto& c : cases) {
        td::codec::SpanSource src(c.bytes);
        td::codec::ValueDecoder dec;
        int v = 0;
        for (int i = 0; i < c.good_values; ++i)
            ASSERT_EQ(dec.next(src, v), DecodeStatus::ok) << c.what;
        EXPECT_EQ(dec.next(src, v), c.status) << c.what;
    }
    const std::vector<std::uint8_t> bits_ignored{0xF3, 0xE8};
    td::codec::SpanSource src(bits_ignored);
    td::codec::ValueDecoder dec;
    int v = 0;
    ASSERT_EQ(dec.next(src, v), DecodeStatus::ok);
    EXPECT_EQ(v, 1000);
}

std::vector<std::uint8_t> graphics_pairs(const std::vector<std::uint8_t>& row)
{
    Bytes out;
    EXPECT_TRUE(td::codec::encode_graphics_row(row, out));
    return out.v;
}

TEST(Codec, GraphicsRunsStayWithinRowsAndAtMost256)
{
    EXPECT_EQ(graphics_pairs(std::vector<std::uint8_t>(300, 5)), (std::vector<std::uint8_t>{5, 255, 5, 43}));
    EXPECT_EQ(graphics_pairs(std::vector<std::uint8_t>(256, 15)), (std::vector<std::uint8_t>{15, 255}));
    EXPECT_EQ(graphics_pairs({1, 1, 2, 0x13}), (std::vector<std::uint8_t>{1, 1, 2, 0, 3, 0}));
    EXPECT_TRUE(graphics_pairs({}).empty());
}

std::vector<std::vector<std::uint8_t>> decode_rows(const std::vector<std::uint8_t>& pairs, int rows,
                                                   int columns, DecodeStatus expect_last = DecodeStatus::ok)
{
    td::codec::SpanSource src(pairs);
    td::codec::RunDecoder dec;
    std::vector<std::vector<std::uint8_t>> out;
    for (int r = 0; r < rows; ++r) {
        out.emplace_back(static_cast<std::size_t>(columns), 0xEE);
        const auto status = dec.fill_row(src, out.back());
        EXPECT_EQ(status, r + 1 == rows ? expect_last : DecodeStatus::ok) << "row " << r;
    }
    return out;
}

TEST(Codec, GraphicsRunsCarryIntoFollowingRows)
{
    // Rows of files with pairs crossing rows are tested on real files
    // (dataset_storage_test.cpp); here the decoder's own edges.
    auto rows = decode_rows({0xF2, 3}, 1, 4); // high bits of G dropped
    EXPECT_EQ(rows[0], (std::vector<std::uint8_t>{2, 2, 2, 2}));

    // A run reaching past the last row stops at the row's end.
    const std::vector<std::uint8_t> long_run{6, 255};
    td::codec::SpanSource src(long_run);
    td::codec::RunDecoder dec;
    std::vector<std::uint8_t> row(3, 0);
    ASSERT_EQ(dec.fill_row(src, row), DecodeStatus::ok);
    EXPECT_EQ(row, (std::vector<std::uint8_t>{6, 6, 6}));
    EXPECT_EQ(dec.carry(), 253u);

    // Pairs cut short.
    decode_rows({1, 1}, 2, 2, DecodeStatus::truncated);
    decode_rows({1, 0, 2}, 1, 2, DecodeStatus::truncated);
}

TEST(Codec, GraphicsRoundTripOnRandomRows)
{
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> nib(0, 15), len(1, 600);
    const int columns = 517;
    std::vector<std::vector<std::uint8_t>> rows(20, std::vector<std::uint8_t>(columns));
    for (auto& row : rows)
        for (std::size_t c = 0; c < row.size();) {
            const auto n = std::min<std::size_t>(static_cast<std::size_t>(len(rng)), row.size() - c);
            const auto v = static_cast<std::uint8_t>(nib(rng));
            std::fill_n(row.begin() + static_cast<std::ptrdiff_t>(c), n, v);
            c += n;
        }
    Bytes out;
    for (const auto& row : rows)
        ASSERT_TRUE(td::codec::encode_graphics_row(row, out));
    EXPECT_EQ(decode_rows(out.v, 20, columns), rows);
}

} // namespace
