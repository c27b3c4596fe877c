// calibration.h - conversion of stored samples into physical values: counts,
// albedo, brightness temperature, ancillary angles and scan time.
//
// Every conversion uses single-precision constants; the product and the sum
// are formed in double precision and rounded once to single precision.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace td {

// Values the calibration_type field selects from: 0 gives raw counts, any
// other value physical units.
inline constexpr std::int16_t kCalibrationRaw = 0;

// Converts the data values of sample words (visible and infrared data) into
// `out` (same length as `words`): raw counts when calibration_type is 0,
// else albedo in percent for data_id 0 and degrees Celsius otherwise.
// Returns 0 (the conversions are constant tables; nothing is allocated).
[[nodiscard]] int calibrate(std::span<float> out, std::span<const std::uint16_t> words,
                            std::int16_t calibration_type, std::int16_t data_id) noexcept;

// The single conversions, by data value v (sample words) or stored 16-bit
// value (ancillary data).  Out-of-range inputs give the bad value.
[[nodiscard]] float raw_count(int v) noexcept;
[[nodiscard]] float albedo_percent(int v) noexcept;
[[nodiscard]] float temperature_celsius(int v) noexcept;
[[nodiscard]] float angle_degrees(std::uint16_t u) noexcept;
[[nodiscard]] float scan_time_hours(std::int16_t w) noexcept;

// The inverse conversions, for writing values: the stored value whose
// conversion is nearest to x.  A value exactly halfway between two converted
// values takes the one farther from zero (as tdftogif rounds); of stored
// values that convert to the same value (scan times such as 160 and 200,
// both 2.0 hours) the one with minutes below 60 is taken.  TD_BAD_VALUE
// gives the missing sample where the kind has one.  Nothing comes back for
// a value the kind cannot hold: NaN, an infinity, a value more than half a
// step beyond the range of the conversion, or TD_BAD_VALUE where the kind
// has no missing sample.
//
// The signed data value of a sample word (visible, infrared; 0 for missing).
[[nodiscard]] std::optional<int> stored_data_value(float x, std::int16_t calibration_type,
                                                   std::int16_t data_id) noexcept;
// The stored 16-bit value of an ancillary sample of a channel 101 to 105
// (0 for a missing angle; scan time has no missing sample).
[[nodiscard]] std::optional<std::uint16_t> stored_ancillary(float x, std::int16_t channel) noexcept;
// A byte 0 .. `largest` (cloud bytes: 255; graphics nibbles: 15); no
// missing sample.
[[nodiscard]] std::optional<std::uint8_t> stored_byte(float x, int largest) noexcept;

// The ancillary channels with a conversion.
inline constexpr std::int16_t kChannelScanAngle = 101;
inline constexpr std::int16_t kChannelScanTime = 105;

} // namespace td
