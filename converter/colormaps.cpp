// colormaps.cpp - the built-in colour maps, their lookup by name and the
// sampling of a map into the data colours of the palette.
//
// "black-white" and "prism" follow closed formulas.  "hsl256", "hsl256_tek"
// and the ramps of "meridia" are straight lines between key entries, each
// channel interpolated on its own and rounded to the nearest integer (halves
// away from zero), so every channel is monotonic between two keys and every
// key is met exactly.  "viridis" and "cividis" are published tables
// (perceptual_maps.h).  All tables are built at compile time.
#include "colormaps.h"

#include <initializer_list>

#include "perceptual_maps.h"
#include "arithmetic.h"

namespace tdf {

namespace {

using rgb_table = std::array<std::array<int, 3>, 256>;

constexpr int red = 0;
constexpr int green = 1;
constexpr int blue = 2;

// One key entry of a channel: the channel has `value` at `entry`.
struct key {
    int entry;
    int value;
};

// a + (b - a) * j / n, rounded to the nearest integer, halves away from zero.
constexpr int lerp_round(int a, int b, int j, int n)
{
    const int num = (b - a) * j;
    const int step = num >= 0 ? (2 * num + n) / (2 * n) : -((-2 * num + n) / (2 * n));
    return a + step;
}

// Fills `channel` of the entries from the first key to the last with straight
// runs between consecutive keys.
constexpr void ramp(rgb_table& table, int channel, std::initializer_list<key> keys)
{
    const key* previous = nullptr;
    for (const key& k : keys) {
        if (previous == nullptr) {
            table[k.entry][channel] = k.value;
        } else {
            const int n = k.entry - previous->entry;
            for (int j = 1; j <= n; ++j)
                table[previous->entry + j][channel] = lerp_round(previous->value, k.value, j, n);
        }
        previous = &k;
    }
}

// Same run on all three channels (grey ramps).
constexpr void grey_ramp(rgb_table& table, std::initializer_list<key> keys)
{
    ramp(table, red, keys);
    ramp(table, green, keys);
    ramp(table, blue, keys);
}

// Copies 16 values into `channel` of the entries first .. first + 15.
constexpr void band(rgb_table& table, int first, int channel, const std::array<int, 16>& values)
{
    for (int j = 0; j < 16; ++j)
        table[first + j][channel] = values[j];
}

// Purple through blue, cyan, yellow and orange to dark red.  On 0 .. 51 the
// green channel is 2.5 k rounded half up, which the 0 -> 128 run gives.
constexpr rgb_table make_hsl256()
{
    rgb_table t{};
    ramp(t, red, {{0, 128}, {51, 0}, {102, 128}, {127, 128}, {128, 130}, {153, 255}, {204, 255}, {255, 128}});
    ramp(t, green, {{0, 0}, {51, 128}, {102, 255}, {127, 255}, {128, 255}, {153, 255}, {204, 128}, {255, 0}});
    ramp(t, blue, {{0, 127}, {51, 255}, {102, 255}, {127, 130}, {128, 128}, {153, 128}, {204, 0}, {255, 0}});
    return t;
}

constexpr rgb_table make_black_white()
{
    rgb_table t{};
    for (int k = 0; k < 256; ++k)
        t[k] = {k, k, k};
    return t;
}

// Integer division of non-negative numbers, rounded up.
constexpr int div_up(int num, int den)
{
    return (num + den - 1) / den;
}

// Three triangles (blue, green, red); rising sides rounded up, falling sides
// rounded down.
constexpr rgb_table make_prism()
{
    rgb_table t{};
    for (int k = 0; k < 256; ++k) {
        int b = 0;
        if (k <= 63)
            b = div_up(255 * k, 63);
        else if (k <= 129)
            b = 255 * (129 - k) / 66;
        int g = 0;
        if (k >= 64 && k <= 127)
            g = div_up(255 * (k - 64), 63);
        else if (k > 127 && k <= 191)
            g = 255 * (191 - k) / 64;
        int r = 0;
        if (k >= 127 && k <= 188)
            r = div_up(255 * (k - 127), 61);
        else if (k > 188)
            r = 255 * (255 - k) / 67;
        t[k] = {r, g, b};
    }
    return t;
}

// Purple through cyan, green, yellow, orange and red to dark red, with the
// plateaus of the channels as keys of their own.
constexpr rgb_table make_hsl256_tek()
{
    rgb_table t{};
    ramp(t, red,
         {{0, 140},
          {36, 64},
          {37, 65},
          {73, 178},
          {109, 102},
          {110, 104},
          {145, 252},
          {146, 254},
          {182, 217},
          {218, 217},
          {219, 215},
          {255, 64}});
    ramp(t, green,
         {{0, 38},
          {36, 214},
          {37, 217},
          {73, 255},
          {145, 255},
          {146, 254},
          {182, 140},
          {218, 2},
          {219, 0},
          {255, 0}});
    ramp(t, blue,
         {{0, 179},
          {36, 216},
          {37, 217},
          {72, 217},
          {73, 216},
          {109, 39},
          {110, 38},
          {145, 38},
          {146, 37},
          {182, 0},
          {255, 0}});
    return t;
}

// The banded enhancement table: black, greys, yellow, red, green, blue, a
// cyan-grey ramp, a falling grey ramp and black.
constexpr rgb_table make_meridia()
{
    constexpr std::array<int, 16> levels{79,  87,  99,  114, 122, 138, 149, 157,
                                         177, 185, 196, 212, 220, 235, 247, 254};
    constexpr std::array<int, 16> yellow_blue{80, 76, 71, 64, 60, 53, 48, 44, 35, 31, 26, 19, 15, 8, 3, 0};
    constexpr std::array<int, 16> reds{254, 247, 237, 223, 217, 203, 193, 186,
                                       168, 161, 151, 137, 131, 117, 107, 99};
    constexpr std::array<int, 16> greens{254, 247, 237, 223, 216, 203, 193, 186,
                                         168, 161, 151, 137, 130, 117, 107, 99};
    constexpr std::array<int, 16> blues{254, 247, 237, 223, 216, 203, 193, 186,
                                        168, 161, 151, 137, 130, 117, 107, 100};
    rgb_table t{}; // entries 0 .. 15 and 239 .. 255 stay black
    band(t, 16, red, levels);
    band(t, 16, green, levels);
    band(t, 16, blue, levels);
    band(t, 32, red, levels);
    band(t, 32, green, levels);
    band(t, 32, blue, yellow_blue);
    t[47] = {255, 254, 0};
    band(t, 48, red, reds);
    t[63] = {99, 1, 0};
    band(t, 64, green, greens);
    t[79] = {0, 99, 2};
    band(t, 80, blue, blues);
    t[95] = {1, 1, 100};
    ramp(t, red, {{96, 84}, {111, 125}, {112, 129}, {127, 171}});
    ramp(t, green, {{96, 84}, {111, 165}, {112, 174}, {127, 255}});
    ramp(t, blue, {{96, 84}, {111, 165}, {112, 174}, {127, 255}});
    grey_ramp(t, {{128, 255}, {183, 129}, {238, 1}});
    return t;
}

// Search order of the lookup.
constexpr std::array<cmap, 7> maps{{
    {"hsl256", make_hsl256()},
    {"black-white", make_black_white()},
    {"prism", make_prism()},
    {"hsl256_tek", make_hsl256_tek()},
    {"meridia", make_meridia()},
    {"viridis", viridis_entries},
    {"cividis", cividis_entries},
}};

} // namespace

const cmap* find_cmap(std::string_view name) noexcept
{
    for (const cmap& map : maps)
        if (map.name == name)
            return &map;
    return nullptr;
}

int cmap_entry(int i, int n) noexcept
{
    if (n <= 1)
        return 0;
    // The position is formed in double and held as a float, as the palette
    // has always been sampled.
    const float t = static_cast<float>(static_cast<double>(i) / static_cast<double>(n - 1) * 255.0);
    const int k = round_nearest(t);
    // Out-of-range arguments must never index outside the map.
    return k < 0 ? 0 : (k > 255 ? 255 : k);
}

} // namespace tdf
