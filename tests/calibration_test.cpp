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

struct Case {
    int input;
    float expected;
};

TEST(Calibration, Temperature)
{
    const Case cases[] = {
        {1, -95.149994f},    {920, -3.2499926f},   {921, -3.1499939f},  {983, -0.049993850f},
        {984, 0.0f},         {985, 0.050006151f},  {1721, 36.850006f},  {1722, 36.950005f},
        {2047, 69.450005f},  {0, TD_BAD_VALUE},    {-1, TD_BAD_VALUE},  {-2047, TD_BAD_VALUE},
        {2048, TD_BAD_VALUE},
    };
    for (const auto& c : cases)
        EXPECT_FLOAT_BITS(td::temperature_celsius(c.input), c.expected) << " v=" << c.input;
    // 0.0 exactly, not -0.0, near 984 only.
    EXPECT_EQ(bits(td::temperature_celsius(984)), 0u);
    for (int v = 921; v <= 1721; ++v) {
        if (v != 984) {
            EXPECT_NE(td::temperature_celsius(v), 0.0f) << v;
        }
    }
}

TEST(Calibration, AlbedoAndRawCounts)
{
    const Case albedo[] = {
        {1, 0.0f}, {2, 0.04885198f}, {2047, 99.951157f}, {0, TD_BAD_VALUE}, {-5, TD_BAD_VALUE},
        {2048, TD_BAD_VALUE},
    };
    for (const auto& c : albedo)
        EXPECT_FLOAT_BITS(td::albedo_percent(c.input), c.expected) << " v=" << c.input;
    const Case raw[] = {
        {1, 0.0f}, {1024, 1023.0f}, {1025, TD_BAD_VALUE}, {0, TD_BAD_VALUE}, {-1, TD_BAD_VALUE},
    };
    for (const auto& c : raw)
        EXPECT_FLOAT_BITS(td::raw_count(c.input), c.expected) << " v=" << c.input;
    EXPECT_EQ(bits(TD_BAD_VALUE), TD_BAD_VALUE_BITS);
}

TEST(Calibration, AnglesAndScanTime)
{
    const Case angles[] = {
        {1, 0.0f}, {11521, 90.0f}, {2, 0.0078125f}, {65535, 511.984375f}, {0, TD_BAD_VALUE},
    };
    for (const auto& c : angles)
        EXPECT_FLOAT_BITS(td::angle_degrees(static_cast<std::uint16_t>(c.input)), c.expected)
            << " u=" << c.input;
    const Case times[] = {
        {1230, 12.5f}, {0, 0.0f}, {2359, 23.983334f}, {-1230, -12.5f}, {15, 0.25f},
        {-32768, static_cast<float>(-327.0 + -68.0 * double{1.0f / 60.0f})},
    };
    for (const auto& c : times)
        EXPECT_FLOAT_BITS(td::scan_time_hours(static_cast<std::int16_t>(c.input)), c.expected)
            << " w=" << c.input;
}

TEST(Calibration, SampleWordsBySelection)
{
    // Sample words carry their nibble and sign; magnitude 0 with the sign set
    // is the value 0.
    const std::vector<std::uint16_t> words{
        static_cast<std::uint16_t>(1 << 4 | 0xF), static_cast<std::uint16_t>(984 << 4),
        static_cast<std::uint16_t>(0x8000 | 5 << 4), 0x8000, static_cast<std::uint16_t>(2047 << 4 | 3),
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
        ASSERT_EQ(td::td_calibrate(out, words, s.calibration_type, s.data_id), TD_NOERR);
        for (std::size_t i = 0; i < out.size(); ++i)
            EXPECT_FLOAT_BITS(out[i], s.expected[i]) << " cal " << s.calibration_type << " id "
                                                     << s.data_id << " i " << i;
    }
}

} // namespace
