// Stored samples to physical values, to the exact float bit.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "calibration.h"
#include "tidewell.h"

namespace {

std::uint32_t bits(float f)
{
    std::uint32_t b = 0;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// Checks the exact bit pattern; the decimal in the message is for people.
#define EXPECT_FLOAT_BITS(actual, expected) \
    EXPECT_EQ(bits(actual), bits(expected)) << (actual) << " vs " << (expected)

// The table of every conversion is checked through td_varget_float on real
// files (dataset_varget_test.cpp); here, what a file test would not show.
TEST(Calibration, OnlyV984FallsInTheZeroBand)
{
    // Exactly +0.0, not a tiny value or -0.0.
    EXPECT_EQ(bits(td::temperature_celsius(984)), 0u);
    for (int v = 921; v <= 1721; ++v) {
        if (v != 984) {
            EXPECT_NE(td::temperature_celsius(v), 0.0f) << v;
        }
    }
    // Scan time truncates the hours towards zero for negative values too.
    EXPECT_FLOAT_BITS(td::scan_time_hours(-1230), -12.5f);
    EXPECT_FLOAT_BITS(td::scan_time_hours(-32768), static_cast<float>(-68.0 * double{1.0f / 60.0f} - 327.0));
}

TEST(Calibration, SampleWordsBySelection)
{
    // Sample words carry their nibble and sign; magnitude 0 with the sign set
    // is the value 0.
    const std::vector<std::uint16_t> words{
        static_cast<std::uint16_t>(1 << 4 | 0xF),    static_cast<std::uint16_t>(984 << 4),
        static_cast<std::uint16_t>(0x8000 | 5 << 4), 0x8000,
        static_cast<std::uint16_t>(2047 << 4 | 3),
    };
    struct Selection {
        std::int16_t calibration_type, data_id;
        std::vector<float> expected;
    };
    const Selection selections[] = {
        {0, 1, {0.0f, 983.0f, TD_BAD_VALUE, TD_BAD_VALUE, TD_BAD_VALUE}},
        {0, 0, {0.0f, 983.0f, TD_BAD_VALUE, TD_BAD_VALUE, TD_BAD_VALUE}},
        {2, 1, {-95.149994f, 0.0f, TD_BAD_VALUE, TD_BAD_VALUE, 69.450005f}},
        {1, 1, {-95.149994f, 0.0f, TD_BAD_VALUE, TD_BAD_VALUE, 69.450005f}},
        {2, 0, {0.0f, 983 * 0.04885198f, TD_BAD_VALUE, TD_BAD_VALUE, 99.951157f}},
    };
    for (const auto& s : selections) {
        std::vector<float> out(words.size(), 1.0f);
        ASSERT_EQ(td::calibrate(out, words, s.calibration_type, s.data_id), TD_NOERR);
        for (std::size_t i = 0; i < out.size(); ++i)
            EXPECT_FLOAT_BITS(out[i], s.expected[i])
                << " cal " << s.calibration_type << " id " << s.data_id << " i " << i;
    }
}

} // namespace
