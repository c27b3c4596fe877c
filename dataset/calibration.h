// calibration.h - conversion of stored samples into physical values: counts,
// albedo, brightness temperature, ancillary angles and scan time.
//
// Every conversion uses single-precision constants; the product and the sum
// are formed in double precision and rounded once to single precision.
#pragma once

#include <cstdint>
#include <span>

namespace td {

// Values the calibration_type field selects from: 0 gives raw counts, any
// other value physical units.
inline constexpr std::int16_t kCalibrationRaw = 0;

// Converts the data values of sample words (visible and infrared data) into
// `out` (same length as `words`): raw counts when calibration_type is 0,
// else albedo in percent for data_id 0 and degrees Celsius otherwise.
// Returns 0 (the conversions are constant tables; nothing is allocated).
[[nodiscard]] int td_calibrate(std::span<float> out, std::span<const std::uint16_t> words,
                               std::int16_t calibration_type, std::int16_t data_id) noexcept;

// The single conversions, by data value v (sample words) or stored 16-bit
// value (ancillary data).  Out-of-range inputs give the bad value.
[[nodiscard]] float raw_count(int v) noexcept;
[[nodiscard]] float albedo_percent(int v) noexcept;
[[nodiscard]] float temperature_celsius(int v) noexcept;
[[nodiscard]] float angle_degrees(std::uint16_t u) noexcept;
[[nodiscard]] float scan_time_hours(std::int16_t w) noexcept;

// The ancillary channels with a conversion.
inline constexpr std::int16_t kChannelScanAngle = 101;
inline constexpr std::int16_t kChannelScanTime = 105;

} // namespace td
