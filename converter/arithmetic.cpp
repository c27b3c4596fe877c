// arithmetic.cpp - the rounding rule and the tick label format.
#include "arithmetic.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>

namespace tdf {

int round_nearest(float x) noexcept
{
    const double d = x;
    // NaN and values beyond int have no nearest int: NaN gives 0, the others
    // saturate, so the conversion below is always defined.
    if (!(d > -2147483648.5 && d < 2147483647.5)) {
        if (std::isnan(d))
            return 0;
        return d > 0.0 ? INT_MAX : INT_MIN;
    }
    // floor(d + 0.5) for d > 0 and ceil(d - 0.5) otherwise, both in double.
    // The shifted value is positive in the first case and negative in the
    // second, where floor and ceil are truncation toward zero: the conversion
    // gives the same integer without a call into the maths library, which
    // matters in the raster's inner loop.
    const double shifted = d > 0.0 ? d + 0.5 : d - 0.5;
    return static_cast<int>(shifted);
}

std::string tick_format(int decimals)
{
    std::array<char, 32> format{};
    const int places = std::clamp(decimals, 0, max_decimals);
    std::snprintf(format.data(), format.size(), "%%%d.%df", places + 3, places);
    return format.data();
}

} // namespace tdf
