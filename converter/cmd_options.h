// cmd_options.h - the option settings of one conversion, filled by the
// command line (command_line.h) and completed by the kind defaults
// (kind_defaults.h).
#pragma once

#include <array>
#include <cstdint>

namespace tdf {

// At most 245 data colours: the palette holds them plus 11 fixed entries,
// 256 in all.
inline constexpr int max_colours = 245;

struct rgb {
    int red = 0;
    int green = 0;
    int blue = 0;
};

// What values below min are painted in.
enum class under_rule {
    bad,    // the bad colour (the default)
    lowest, // the lowest data colour, as values above max take the highest
    colour, // a colour of their own
};

struct cmd_options {
    std::array<rgb, 8> plane_colour{}; // graphics planes 1 to 8
    std::uint8_t fixed_planes = 0;     // bit p - 1: plane p in its fixed colour
    std::uint8_t dynamic_planes = 0;   // bit p - 1: plane p black or white
    int colours = 245;                 // number of data colours, 1 to 245
    rgb bad_colour{};                  // colour of missing data
    float min = 0.0f;
    bool min_given = false;
    float max = 0.0f;
    bool max_given = false;
    int decimals = 1;           // decimal places of tick labels
    const char* cmap = nullptr; // colour map name (the argument itself)
    bool cmap_given = false;
    float ticint = 0.0f; // tick interval
    bool ticint_given = false;
    bool fahrenheit = false;
    bool invert = false;
    bool stamp = false;
    bool utc = false;
    const char* output = nullptr;       // none: standard output
    const char* input = nullptr;        // the dataset path
    int reduce = 1;                     // --reduce: a pixel shows N x N samples
    int fit = 0;                        // --fit: the raster's largest side (0: none)
    under_rule under = under_rule::bad; // --under
    rgb under_colour{};
};

} // namespace tdf
