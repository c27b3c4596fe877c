// scale.cpp - the colour scale beside the raster: the tick records, the two
// frames, the tick marks with their labels, the colour bar and the vertical
// units label.
#include "scale.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>
#include <utility>

#include "arithmetic.h"
#include "image_layout.h"

namespace tdf {

namespace {

// Coordinates handed to gd stay well inside int, so that gd's own arithmetic
// on them (clipping, text advance) cannot overflow.
constexpr long long coord_limit = 1LL << 29;

bool fits(long long v)
{
    return v > -coord_limit && v < coord_limit;
}

// gd's text calls take a mutable unsigned char pointer but never write.
unsigned char* gd_text(std::string& s)
{
    return reinterpret_cast<unsigned char*>(s.data());
}

// Tick i of the scale, or none when its label would be longer than 31
// characters (a cut label would show a wrong number).  Tick 0 is min itself:
// 0 intervals above it, even when the interval is beyond the float range.
std::optional<tic> make_tic(long long i, float min, float range, float ticint, const char* format)
{
    const double product = i == 0 ? 0.0 : static_cast<double>(i) * double{ticint};
    const float offset = static_cast<float>(product);
    const double value = product + double{min};
    char label[32];
    const int len = std::snprintf(label, sizeof label, format, value);
    if (len < 0 || len >= static_cast<int>(sizeof label))
        return std::nullopt;
    return tic{len, std::string(label, static_cast<std::size_t>(len)), offset / range};
}

} // namespace

int make_tics(std::vector<tic>& tics, float min, float max, float ticint, const char* format) noexcept
{
    tics.clear();
    const float range = max - min;
    const float quotient = range / ticint;
    if (std::isnan(quotient))
        return -1;
    // round_nearest saturates, so a count beyond int shows up as too large.
    const long long count = static_cast<long long>(round_nearest(quotient)) + 1;
    if (count <= 0)
        return 0;
    if (count > INT_MAX)
        return -1;

    try {
        // The values run monotonically from the first tick to the last, and
        // a fixed-point label grows with the magnitude and gains a sign below
        // zero: of a scale too dense to draw, the first and the last tick
        // are built, the two widest.
        const long long built = count > max_tics ? 2 : count;
        tics.reserve(static_cast<std::size_t>(built));
        for (long long k = 0; k < built; ++k) {
            const long long i = k + 1 == built ? count - 1 : k;
            std::optional<tic> t = make_tic(i, min, range, ticint, format);
            if (!t) {
                tics.clear();
                return -2;
            }
            tics.push_back(std::move(*t));
        }
    } catch (const std::bad_alloc&) {
        tics.clear();
        return -3;
    }
    return static_cast<int>(count);
}

void draw_frames(gdImagePtr image, int fg, int rows, int columns)
{
    const long long c = columns;
    const long long r = rows;
    const long long bottom = r + layout::frame_bottom_below;
    if (!fits(c + layout::bar_frame_right_of) || !fits(bottom))
        return;
    gdImageRectangle(image, layout::frame_left, layout::frame_top,
                     static_cast<int>(c + layout::raster_frame_right_of), static_cast<int>(bottom), fg);
    gdImageRectangle(image, static_cast<int>(c + layout::bar_frame_left_of), layout::frame_top,
                     static_cast<int>(c + layout::bar_frame_right_of), static_cast<int>(bottom), fg);
}

void draw_tics(gdImagePtr image, gdFontPtr font, const std::vector<tic>& tics, int fg, int rows, int columns)
{
    const long long x = static_cast<long long>(columns) + layout::tick_left_of;
    if (!fits(x + layout::tick_label_offset))
        return;
    const int sy = gdImageSY(image);
    for (const tic& t : tics) {
        // The height is worked out in single precision, as the scale always
        // has been, and truncated toward zero.
        const float y_exact = static_cast<float>(sy - layout::bottom_row_above_edge) -
                              static_cast<float>(static_cast<long long>(rows) - 1) * t.pos;
        if (!(y_exact > -static_cast<float>(coord_limit) && y_exact < static_cast<float>(coord_limit)))
            continue; // NaN or far off the image: no place to draw this tick
        const int y = static_cast<int>(y_exact);
        gdImageLine(image, static_cast<int>(x), y, static_cast<int>(x + layout::tick_length), y, fg);
        std::string text = t.text;
        gdImageString(image, font, static_cast<int>(x + layout::tick_label_offset), y - font->h / 2,
                      gd_text(text), fg);
    }
}

void draw_units(gdImagePtr image, gdFontPtr font, int fg, const char* label, bool fahrenheit)
{
    if (label == nullptr || *label == '\0')
        return;
    // gd's built-in fonts have the degree sign at byte 176, as ISO 8859
    // does; the library's text is UTF-8.
    constexpr std::string_view degree = "\u00b0";
    std::string text = label;
    if (fahrenheit)
        for (std::size_t at = text.find("\u00b0C"); at != std::string::npos; at = text.find("\u00b0C", at))
            text[at + degree.size()] = 'F';
    for (std::size_t at = text.find(degree); at != std::string::npos; at = text.find(degree, at))
        text.replace(at, degree.size(), 1, static_cast<char>(176));
    const int len = static_cast<int>(text.size());
    const int x = gdImageSX(image) - font->h - layout::units_right_margin;
    const int y = gdImageSY(image) / 2 + (len * font->w) / 2;
    gdImageStringUp(image, font, x, y, gd_text(text), fg);
}

void draw_colorbar(gdImagePtr image, const int* data_colours, int colours, int rows, int columns)
{
    if (data_colours == nullptr || colours < 1 || rows < 1)
        return;
    const long long x1 = static_cast<long long>(columns) + layout::bar_left_of;
    const long long x2 = x1 + layout::bar_width;
    if (!fits(x2))
        return;
    const int sy = gdImageSY(image);
    const float last_row = static_cast<float>(rows - 1);
    const float last_colour = static_cast<float>(colours - 1);
    for (int i = 0; i < rows; ++i) {
        int k = 0;
        if (rows > 1) {
            const float x = static_cast<float>(i) / last_row * last_colour;
            k = round_nearest(x);
            k = k < 0 ? 0 : (k > colours - 1 ? colours - 1 : k);
        }
        const long long y = static_cast<long long>(sy) - layout::bottom_row_above_edge - i;
        if (!fits(y))
            break;
        gdImageLine(image, static_cast<int>(x1), static_cast<int>(y), static_cast<int>(x2),
                    static_cast<int>(y), data_colours[k]);
    }
}

} // namespace tdf
