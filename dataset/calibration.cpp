// calibration.cpp - stored samples to physical values.
#include "calibration.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

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

bool is_bad_value(float x) noexcept
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    return bits == TD_BAD_VALUE_BITS;
}

// The nearest of the values tried so far, by the rules of the inverse
// conversions (calibration.h): the smaller distance; at equal distance the
// value farther from zero; at equal value the one `preferred` says.
class Nearest {
public:
    explicit Nearest(double x) noexcept : x_(x) {}

    // A stored value (0 or more) and its converted value.
    void consider(int stored, float value, bool preferred = true) noexcept
    {
        const double d = std::fabs(double{value} - x_);
        const bool better = found_ < 0 || d < distance_ ||
                            (d == distance_ && (std::fabs(value) > std::fabs(value_) ||
                                                (value == value_ && preferred && !preferred_)));
        if (better) {
            found_ = stored;
            distance_ = d;
            value_ = value;
            preferred_ = preferred;
        }
    }
    [[nodiscard]] std::optional<int> result() const noexcept
    {
        return found_ < 0 ? std::nullopt : std::optional<int>(found_);
    }

private:
    double x_;
    int found_ = -1;
    double distance_ = 0;
    float value_ = 0;
    bool preferred_ = false;
};

// The stored value k in lo .. hi of an increasing conversion f whose value
// is nearest to x, looked for around `guess`; nothing when x is not finite
// or lies more than half a step beyond f(lo) .. f(hi).
template <class Convert>
std::optional<int> nearest_increasing(double x, int lo, int hi, double guess, Convert f) noexcept
{
    if (!std::isfinite(x))
        return std::nullopt;
    const double first = f(lo), last = f(hi);
    const double below = first - (double{f(lo + 1)} - first) / 2;
    const double above = last + (last - double{f(hi - 1)}) / 2;
    if (x < below || x > above)
        return std::nullopt;
    const int centre = static_cast<int>(std::clamp(std::round(guess), double(lo), double(hi)));
    Nearest nearest(x);
    for (int k = std::max(lo, centre - 2); k <= std::min(hi, centre + 2); ++k)
        nearest.consider(k, f(k));
    return nearest.result();
}

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
    const int hours = w / 100; // truncated towards zero
    const int minutes = w - 100 * hours;
    return static_cast<float>(double(minutes) * double{kMinuteStep} + double(hours));
}

int calibrate(std::span<float> out, std::span<const std::uint16_t> words, std::int16_t calibration_type,
              std::int16_t data_id) noexcept
{
    const Table& table = calibration_type == kCalibrationRaw ? kRawTable
                         : data_id == 0                      ? kAlbedoTable
                                                             : kTemperatureTable;
    const std::size_t n = std::min(words.size(), out.size());
    for (std::size_t i = 0; i < n; ++i)
        out[i] = table[words[i] >> 4];
    return TD_NOERR;
}

std::optional<int> stored_data_value(float x, std::int16_t calibration_type, std::int16_t data_id) noexcept
{
    if (is_bad_value(x))
        return 0;
    const double d = x;
    if (calibration_type == kCalibrationRaw)
        return nearest_increasing(d, 1, 1024, d + 1, raw_of);
    if (data_id == 0)
        return nearest_increasing(d, 1, 2047, d / double{kAlbedoStep} + 1, albedo_of);
    // The temperature segment x falls in gives the guess; the search around
    // it crosses into the next segment where x is near its end.
    const double guess = d < double{kB2}   ? (d - double{kB1}) / double{kStepCoarse} + 1
                         : d < double{kB3} ? (d - double{kB2}) / double{kStepFine} + 921
                                           : (d - double{kB3}) / double{kStepCoarse} + 1721;
    return nearest_increasing(d, 1, 2047, guess, temperature_of);
}

std::optional<std::uint16_t> stored_ancillary(float x, std::int16_t channel) noexcept
{
    const double d = x;
    if (channel != kChannelScanTime) {
        if (is_bad_value(x))
            return 0;
        const auto u = nearest_increasing(d, 1, 65535, d * 128 + 1,
                                          [](int k) { return angle_degrees(static_cast<std::uint16_t>(k)); });
        return u ? std::optional<std::uint16_t>(static_cast<std::uint16_t>(*u)) : std::nullopt;
    }
    // Scan time is not increasing in the stored value (199 is 2.65 hours,
    // 200 is 2.0): the candidates are the hours around x with the minutes
    // nearest to what remains, minutes taking the sign of the hours.
    constexpr double half_minute = 1.0 / 120;
    if (!std::isfinite(d) || d < scan_time_hours(std::numeric_limits<std::int16_t>::min()) - half_minute ||
        d > scan_time_hours(std::numeric_limits<std::int16_t>::max()) + half_minute)
        return std::nullopt;
    Nearest nearest(d);
    const int hour = static_cast<int>(std::trunc(d));
    for (const int h : {hour, hour - 1, hour + 1}) {
        const long minute = std::lround((d - h) * 60);
        for (long m = minute - 1; m <= minute + 1; ++m) {
            const long w = 100L * h + m;
            if (m < -99 || m > 99 || (h > 0 && m < 0) || (h < 0 && m > 0) ||
                w < std::numeric_limits<std::int16_t>::min() || w > std::numeric_limits<std::int16_t>::max())
                continue;
            nearest.consider(static_cast<int>(w & 0xFFFF), scan_time_hours(static_cast<std::int16_t>(w)),
                             m > -60 && m < 60);
        }
    }
    const auto w = nearest.result();
    return w ? std::optional<std::uint16_t>(static_cast<std::uint16_t>(*w)) : std::nullopt;
}

std::optional<std::uint8_t> stored_byte(float x, int largest) noexcept
{
    const double d = x;
    const auto b = nearest_increasing(d, 0, largest, d, [](int k) { return static_cast<float>(k); });
    return b ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(*b)) : std::nullopt;
}

} // namespace td
