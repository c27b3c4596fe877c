// calibration.cpp - stored samples to physical values.
#include "calibration.h"

#include <algorithm>
#include <array>

#include "storage.h"
#include "tidewell.h"

namespace td {

namespace {

constexpr float kBad = TD_BAD_VALUE;

// The stored temperature scale is in kelvin: 178 K at v = 1 in steps of
// 0.1 K, 270 K at v = 921 in steps of 0.05 K, 310 K at v = 1721 in steps of
// 0.1 K.  Each offset is that temperature less 273.15, rounded to single
// precision (273.15 itself taken in single precision).
constexpr float kKelvinZero = 273.15f;
constexpr float kB1 = static_cast<float>(178.0 - double{kKelvinZero});
constexpr float kB2 = static_cast<float>(270.0 - double{kKelvinZero});
constexpr float kB3 = static_cast<float>(310.0 - double{kKelvinZero});
constexpr float kStepCoarse = 0.1f;
constexpr float kStepFine = 0.05f;
constexpr float kAlbedoStep = 0.04885198f;
constexpr float kZeroBand = 0.01f;
constexpr float kAngleStep = 1.0f / 128.0f;
constexpr float kMinuteStep = 1.0f / 60.0f;

// factor x k + offset, formed in double and rounded once.
constexpr float scaled(int k, float factor, float offset = 0.0f) noexcept
{
    return static_cast<float>(double(k) * double{factor} + double{offset});
}

constexpr float raw_of(int v) noexcept
{
    return (v >= 1 && v <= 1024) ? static_cast<float>(v - 1) : kBad;
}

constexpr float albedo_of(int v) noexcept
{
    return (v >= 1 && v <= 2047) ? scaled(v - 1, kAlbedoStep) : kBad;
}

constexpr float temperature_of(int v) noexcept
{
    if (v < 1 || v > 2047)
        return kBad;
    if (v <= 920)
        return scaled(v - 1, kStepCoarse, kB1);
    if (v <= 1721) {
        const double t = double(v - 921) * double{kStepFine} + double{kB2};
        const double magnitude = t < 0.0 ? -t : t;
        return magnitude < double{kZeroBand} ? 0.0f : static_cast<float>(t);
    }
    return scaled(v - 1721, kStepCoarse, kB3);
}

// Every data value a sample word can hold has 12 bits (the sign and the
// 11-bit magnitude, bits 15-4 of the word), so each conversion is a table
// of 4096 floats indexed by word >> 4, worked out when the library is
// compiled.
using Table = std::array<float, 4096>;

template <float (*Convert)(int) noexcept>
constexpr Table make_table() noexcept
{
    Table t{};
    for (int i = 0; i < 4096; ++i) {
        const int magnitude = i & 0x07FF;
        t[static_cast<std::size_t>(i)] = Convert((i & 0x0800) ? -magnitude : magnitude);
    }
    return t;
}

constexpr Table kRawTable = make_table<raw_of>();
constexpr Table kAlbedoTable = make_table<albedo_of>();
constexpr Table kTemperatureTable = make_table<temperature_of>();

} // namespace

float raw_count(int v) noexcept
{
    return raw_of(v);
}

float albedo_percent(int v) noexcept
{
    return albedo_of(v);
}

float temperature_celsius(int v) noexcept
{
    return temperature_of(v);
}

float angle_degrees(std::uint16_t u) noexcept
{
    return u == 0 ? kBad : scaled(int{u} - 1, kAngleStep);
}

float scan_time_hours(std::int16_t w) noexcept
{
    const int hours = w / 100;  // truncated towards zero
    const int minutes = w - 100 * hours;
    return static_cast<float>(double(minutes) * double{kMinuteStep} + double(hours));
}

int td_calibrate(std::span<float> out, std::span<const std::uint16_t> words,
                 std::int16_t calibration_type, std::int16_t data_id) noexcept
{
    const Table& table = calibration_type == kCalibrationRaw ? kRawTable
                         : data_id == 0                      ? kAlbedoTable
                                                             : kTemperatureTable;
    const std::size_t n = std::min(words.size(), out.size());
    for (std::size_t i = 0; i < n; ++i)
        out[i] = table[words[i] >> 4];
    return TD_NOERR;
}

} // namespace td
