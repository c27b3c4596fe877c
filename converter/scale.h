// scale.h - the colour scale beside the raster: ticks, frames, colour bar
// and the vertical units label.
#pragma once

#include <string>
#include <vector>

#include <gd.h>

namespace tdf {

struct tic {
    int len = 0;        // characters of text
    std::string text;   // the label
    float pos = 0.0f;   // relative height: 0 at min, 1 at max
};

// Builds the ticks from min, max, the tick interval and the printf format of
// one tick value.  Returns the count; 0 when the count comes out as zero.
int make_tics(std::vector<tic>& tics, float min, float max, float ticint, const char* format);

void draw_frames(gdImagePtr image, int fg, int rows, int columns);
void draw_tics(gdImagePtr image, gdFontPtr font, const std::vector<tic>& tics, int fg, int rows,
               int columns);
void draw_units(gdImagePtr image, gdFontPtr font, int fg, const char* data_id, const char* variable,
                bool fahrenheit);
void draw_colorbar(gdImagePtr image, const int* data_colours, int colours, int rows, int columns);

} // namespace tdf
