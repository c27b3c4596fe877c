// arithmetic.h - the converter's shared arithmetic: its one rounding rule
// and the printf format of a tick label.
#pragma once

#include <string>

namespace tdf {

// Most decimal places a tick label may have, so that a label of width
// places + 3 fits the 31 characters of a tick's text.
inline constexpr int max_decimals = 28;

// Rounds a float to an int, halves away from zero.  Every float-to-index
// step of the converter uses it (data colours, palette sampling, tick count,
// colour bar).  Values beyond int saturate to INT_MAX / INT_MIN; NaN gives 0.
int round_nearest(float x) noexcept;

// The printf format of one tick value for a number of decimal places:
// "%4.1f" for 1 (places outside 0 to max_decimals are clamped).
std::string tick_format(int decimals);

} // namespace tdf
