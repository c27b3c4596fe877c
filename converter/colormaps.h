// colormaps.h - the built-in colour maps and their sampling into the data
// colours of the palette.
#pragma once

#include <array>
#include <string_view>

namespace tdf {

struct cmap {
    std::string_view name;
    std::array<std::array<int, 3>, 256> rgb; // red, green, blue; entry 0 = lowest value
};

// The map whose name equals `name` byte for byte, or nullptr.
const cmap* find_cmap(std::string_view name) noexcept;

// The map entry that data colour i of n takes (n from 1 to 245).
int cmap_entry(int i, int n) noexcept;

} // namespace tdf
