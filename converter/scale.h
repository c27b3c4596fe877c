// scale.h - the colour scale beside the raster: ticks, frames, colour bar
// and the vertical units label.
#pragma once

#include <string>
#include <vector>

#include <gd.h>

namespace tdf {

struct tic {
    int len = 0;      // characters of text
    std::string text; // the label
    float pos = 0.0f; // relative height: 0 at min, 1 at max
};

// Most ticks a scale is drawn with: far more than can be told apart on an
// image of at most 32767 rows, and few enough to build and draw in seconds.
inline constexpr int max_tics = 1'000'000;

// Builds the ticks from min, max, the tick interval and the printf format of
// one tick value (one fixed-point conversion).  Returns the count; 0 when it
// comes out as zero or below; -1 when it does not fit an int or is not a
// number (tick interval far too small); -2 when a label would be longer than
// 31 characters; -3 when memory runs out.  Nothing is kept on a result below
// 1.  A count above max_tics is returned with only the first and the last
// tick built: they carry the widest labels, so the image can be sized, but
// such a scale is too dense to draw and the caller must refuse it.
[[nodiscard]] int make_tics(std::vector<tic>& tics, float min, float max, float ticint,
                            const char* format) noexcept;

void draw_frames(gdImagePtr image, int fg, int rows, int columns);
void draw_tics(gdImagePtr image, gdFontPtr font, const std::vector<tic>& tics, int fg, int rows, int columns);
// The label is the library's (td_unitsinq), in UTF-8; with the Fahrenheit
// flag its temperatures are in degrees Fahrenheit, as the raster's are.
void draw_units(gdImagePtr image, gdFontPtr font, int fg, const char* label, bool fahrenheit);
void draw_colorbar(gdImagePtr image, const int* data_colours, int colours, int rows, int columns);

} // namespace tdf
