// raster.h - the data raster with its graphics planes.
#pragma once

#include <cstdint>
#include <optional>

#include <gd.h>

namespace tdf {

struct raster_params {
    const int* data_colours = nullptr; // palette indices, lowest value first
    int colours = 0;                   // entries in data_colours, 1 to 245
    int bad_colour = 0;
    const int* plane_colours = nullptr; // 8 entries, planes 1 to 8
    unsigned rows = 0;
    unsigned columns = 0;
    int dataset = -1;
    int data_variable = 0;
    int graphics_variable = 1;
    float min = 0.0f;
    float max = 1.0f;
    std::uint8_t fixed_planes = 0;
    std::uint8_t dynamic_planes = 0;
    bool fahrenheit = false;
    const char* variable_name = "";
    int black = 0;
    int white = 1;
    // Values below the range: the bad colour unless a colour is given.
    std::optional<int> under_colour;
    // N: each pixel shows an N x N block of samples (block_reduce.h); the
    // raster is rows / N by columns / N pixels, rounded up.
    unsigned reduce = 1;
};

// Tries the reads of the last row (its data, then its graphics when planes
// are in use), and of the row showing the last stored row when the image is
// shifted up, before the image is made: a header can ask for 32767 x 32767
// samples of a file that holds a few bytes.  When they fail, the rows are
// read in order, as draw_data reads them, and the first failing read is
// reported as draw_data would report it.  Returns 0, or the exit status.
// Passing does not promise that every row reads.
[[nodiscard]] int probe_rows(const raster_params& params);

// Paints the data variable into the image at (layout::raster_left,
// layout::raster_top), row by row (block row by block row when reduced),
// with the graphics planes over it.  Returns 0, or the exit status after
// reporting the failure (exit_status::no_data_memory or no_graphics_memory,
// or a library status).
[[nodiscard]] int draw_data(gdImagePtr image, const raster_params& params);

} // namespace tdf
