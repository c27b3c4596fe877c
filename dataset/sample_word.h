// sample_word.h - the 16-bit sample word of visible and infrared data.
#pragma once

#include <cstdint>

namespace td {

// The sample word of a data value: bit 15 the sign, bits 14-4 the
// magnitude, the graphics nibble (bits 3-0) zero.
[[nodiscard]] constexpr std::uint16_t value_word(int v) noexcept
{
    return static_cast<std::uint16_t>(v < 0 ? 0x8000u | (static_cast<unsigned>(-v) << 4)
                                            : static_cast<unsigned>(v) << 4);
}

} // namespace td
