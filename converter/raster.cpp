// raster.cpp - paints the data variable into the image, one pixel per value
// (or per block of values when reduced), with the graphics planes over it.
#include "raster.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "block_reduce.h"
#include "failure.h"
#include "image_layout.h"
#include "tidewell.h"

namespace tdf {

namespace {

// Plane bits in the order the planes are painted: 4, 1, 3, 2.
constexpr std::array<std::uint8_t, 4> plane_order{0x08, 0x01, 0x04, 0x02};

// Index into the plane colours of the plane with bit `bit`.
constexpr int plane_index(std::uint8_t bit)
{
    int p = 0;
    while ((bit >> p) != 1)
        ++p;
    return p;
}

// A row buffer allocated once; empty when the allocation failed.
template <typename T>
std::vector<T> allocate_row(std::size_t n) noexcept
{
    try {
        return std::vector<T>(n);
    } catch (const std::bad_alloc&) {
        return {};
    } catch (const std::length_error&) {
        return {};
    }
}

bool is_bad_value(float v)
{
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits == TD_BAD_VALUE_BITS;
}

// Everything a pixel's colour depends on besides its value and planes,
// fixed for the whole call.
struct colouring {
    const int* data_colours;
    int last;   // number of colours - 1
    double top; // last + 1
    int bad_colour;
    int under_colour; // below the range
    float scale;
    float offset;
    bool fahrenheit;
    const int* plane_colours;
    std::uint8_t fixed;
    std::uint8_t dynamic;
    int black;
    int white;
    gdImagePtr image; // palette read by the dynamic planes

    // The index k = round_nearest(x) worked out inline, with the range
    // tests folded into it: for x > 0, k = floor(x + 0.5), and k > last
    // exactly when x + 0.5 >= last + 1 (both sums are exact in double); for
    // x <= 0, k = ceil(x - 0.5), which is 0 for x > -0.5 and negative (the
    // bad colour) below.  A value with no place on the scale (NaN, or
    // infinity times a zero scale) fails both tests and is shown as missing.
    int data_colour(float v) const
    {
        if (is_bad_value(v))
            return bad_colour;
        const double x = fahrenheit ? double{scale} * (1.8 * double{v} + 32.0) + double{offset}
                                    : double{scale} * double{v} + double{offset};
        const float xf = static_cast<float>(x);
        if (xf > 0.0f) {
            const double shifted = double{xf} + 0.5;
            return shifted >= top ? data_colours[last] : data_colours[static_cast<int>(shifted)];
        }
        return xf > -0.5f ? data_colours[0] : under_colour;
    }

    // Black or white against the colour painted so far.
    int contrast(int colour) const
    {
        double luminance = 0.0;
        if (colour >= 0 && colour < gdMaxColors)
            luminance =
                0.299 * image->red[colour] + 0.587 * image->green[colour] + 0.114 * image->blue[colour];
        return luminance < 127.0 ? white : black;
    }

    int with_planes(int colour, std::uint8_t g) const
    {
        if ((g & (fixed | dynamic)) == 0)
            return colour;
        for (std::uint8_t bit : plane_order) {
            if ((g & bit) == 0)
                continue;
            if (fixed & bit)
                colour = plane_colours[plane_index(bit)];
            else if (dynamic & bit)
                colour = contrast(colour);
        }
        return colour;
    }
};

// Whether every colour the raster can paint is an ordinary palette index, so
// that writing it straight into the pixel rows is what gdImageSetPixel does.
bool plain_colours(const raster_params& p)
{
    auto ok = [](int c) { return c >= 0 && c < gdMaxColors; };
    if (!ok(p.bad_colour) || !ok(p.black) || !ok(p.white) || !ok(p.under_colour.value_or(p.bad_colour)))
        return false;
    for (int i = 0; i < p.colours; ++i)
        if (!ok(p.data_colours[i]))
            return false;
    for (int i = 0; i < 4; ++i)
        if ((p.fixed_planes >> i) & 1U)
            if (!ok(p.plane_colours[i]))
                return false;
    return true;
}

bool planes_in_use(const raster_params& p)
{
    return p.fixed_planes != 0 || p.dynamic_planes != 0;
}

// One data row and, when planes are in use, one graphics row, read in the
// order of the run: the data first.
struct row_buffers {
    std::vector<float> data;
    std::vector<std::uint8_t> graphics;

    // 0, or the exit status after reporting the failed allocation.
    int allocate(const raster_params& p)
    {
        data = allocate_row<float>(p.columns);
        if (data.empty()) {
            report_failure("unable to allocate data memory", "malloc");
            return code(exit_status::no_data_memory);
        }
        if (planes_in_use(p)) {
            graphics = allocate_row<std::uint8_t>(p.columns);
            if (graphics.empty()) {
                report_failure("unable to allocate graphics memory", "malloc");
                return code(exit_status::no_graphics_memory);
            }
        }
        return 0;
    }

    // Reads row r.  0, or the library status of the failed read with
    // `failed` set to the name it is reported under.
    int read(const raster_params& p, unsigned r, const char*& failed)
    {
        const std::uint32_t start[2] = {r, 0};
        const std::uint32_t count[2] = {1, p.columns};
        if (const int s = td_varget_float(p.dataset, p.data_variable, start, count, data.data()); s != 0) {
            failed = p.variable_name;
            return s;
        }
        if (!graphics.empty()) {
            if (const int s = td_varget_byte(p.dataset, p.graphics_variable, start, count, graphics.data());
                s != 0) {
                failed = "graphics";
                return s;
            }
        }
        return 0;
    }

    // Reads row r and reports a failure as the raster does.
    int read_reporting(const raster_params& p, unsigned r)
    {
        const char* failed = "";
        const int status = read(p, r, failed);
        if (status != 0)
            report_failure(td_strerror(status), failed);
        return status;
    }
};

} // namespace

int probe_rows(const raster_params& params)
{
    if (params.rows == 0 || params.columns == 0)
        return 0;
    row_buffers buffers;
    if (const int s = buffers.allocate(params); s != 0)
        return s;
    // The last row, and where the image is shifted up, the row that shows
    // the last stored row: the deepest reads of the file there are.
    unsigned deepest = params.rows - 1;
    std::int16_t shift = 0;
    if (td_attget_short(params.dataset, params.data_variable, "vertical_shift", &shift) == TD_NOERR &&
        shift < 0 && -long{shift} < long{params.rows})
        deepest = static_cast<unsigned>(long{params.rows} - 1 + shift);
    const char* failed = "";
    int status = buffers.read(params, params.rows - 1, failed);
    if (status == 0 && deepest != params.rows - 1)
        status = buffers.read(params, deepest, failed);
    if (status == 0)
        return 0;
    for (unsigned r = 0; r < params.rows; ++r)
        if (const int s = buffers.read_reporting(params, r); s != 0)
            return s;
    // Every row read in order after all: the last row's failure stands.
    report_failure(td_strerror(status), failed);
    return status;
}

int draw_data(gdImagePtr image, const raster_params& params)
{
    const unsigned rows = params.rows;
    const unsigned columns = params.columns;
    if (rows == 0 || columns == 0 || params.colours < 1 || params.data_colours == nullptr)
        return 0;
    const unsigned factor = std::max(1u, params.reduce);
    const auto shown_rows =
        static_cast<unsigned>(reduced_length(static_cast<int>(rows), static_cast<int>(factor)));
    const auto shown_columns =
        static_cast<unsigned>(reduced_length(static_cast<int>(columns), static_cast<int>(factor)));

    row_buffers buffers;
    if (const int s = buffers.allocate(params); s != 0)
        return s;
    const bool planes = planes_in_use(params);
    block_reducer reducer;
    if (factor > 1 && !reducer.allocate(columns, factor, planes)) {
        report_failure("unable to allocate data memory", "malloc");
        return code(exit_status::no_data_memory);
    }

    const double scale_d =
        static_cast<double>(params.colours - 1) / (double{params.max} - double{params.min});
    const colouring paint{
        params.data_colours,
        params.colours - 1,
        static_cast<double>(params.colours),
        params.bad_colour,
        params.under_colour.value_or(params.bad_colour),
        static_cast<float>(scale_d),
        static_cast<float>(-(scale_d * double{params.min})),
        params.fahrenheit,
        params.plane_colours,
        planes ? params.fixed_planes : std::uint8_t{0},
        planes ? params.dynamic_planes : std::uint8_t{0},
        params.black,
        params.white,
        image,
    };

    // Pixels are written straight into the rows of a palette image; only the
    // part of the raster inside gd's clipping rectangle is painted, exactly as
    // gdImageSetPixel would do pixel by pixel.
    const bool direct = image->trueColor == 0 && plain_colours(params);
    const long long x_first = layout::raster_left;
    const long long c_begin = std::max<long long>(0, image->cx1 - x_first);
    const long long c_end =
        std::min<long long>(shown_columns, static_cast<long long>(image->cx2) - x_first + 1);

    for (unsigned r = 0; r < shown_rows; ++r) {
        // The values and plane bits of pixel row r: dataset row r, or the
        // block of dataset rows it stands for.
        const float* data_row = buffers.data.data();
        const std::uint8_t* graphics_row = buffers.graphics.data();
        if (factor == 1) {
            if (const int s = buffers.read_reporting(params, r); s != 0)
                return s;
        } else {
            const unsigned last = std::min(rows, (r + 1) * factor);
            for (unsigned k = r * factor; k < last; ++k) {
                if (const int s = buffers.read_reporting(params, k); s != 0)
                    return s;
                reducer.add(buffers.data, buffers.graphics);
            }
            reducer.finish();
            data_row = reducer.data();
            graphics_row = reducer.graphics();
        }

        const long long y = static_cast<long long>(r) + layout::raster_top;
        if (y < image->cy1 || y > image->cy2 || c_begin >= c_end)
            continue; // nothing of this row lies inside the image
        const int yi = static_cast<int>(y);
        const auto cb = static_cast<std::size_t>(c_begin);
        const auto ce = static_cast<std::size_t>(c_end);

        if (direct) {
            unsigned char* out = image->pixels[yi] + x_first;
            if (planes) {
                for (std::size_t c = cb; c < ce; ++c)
                    out[c] = static_cast<unsigned char>(
                        paint.with_planes(paint.data_colour(data_row[c]), graphics_row[c]));
            } else {
                for (std::size_t c = cb; c < ce; ++c)
                    out[c] = static_cast<unsigned char>(paint.data_colour(data_row[c]));
            }
        } else {
            for (std::size_t c = cb; c < ce; ++c) {
                int colour = paint.data_colour(data_row[c]);
                if (planes)
                    colour = paint.with_planes(colour, graphics_row[c]);
                gdImageSetPixel(image, static_cast<int>(c + x_first), yi, colour);
            }
        }
    }
    return 0;
}

} // namespace tdf
