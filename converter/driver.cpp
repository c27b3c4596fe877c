// driver.cpp - one conversion: open the dataset, settle the display
// settings, build the palette image, have the drawing routines paint it and
// write it as a GIF.
//
// Every failure writes its one line and returns its exit status.  Whatever
// was acquired is released on the way out (the image, the dataset, the
// output file), so that the conversion can run many times in one process.
// An output file is replaced only by a complete image (output_file.h): a
// failure at any step leaves an earlier file as it was and makes none.
#include "driver.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gd.h>
#include <gdfontg.h>
#include <gdfonts.h>

#include "arithmetic.h"
#include "block_reduce.h"
#include "colormaps.h"
#include "failure.h"
#include "image_layout.h"
#include "kind_defaults.h"
#include "output_file.h"
#include "raster.h"
#include "scale.h"
#include "stamp.h"
#include "tidewell.h"

namespace tdf {

namespace {

struct image_deleter {
    void operator()(gdImagePtr image) const noexcept { gdImageDestroy(image); }
};
using image_ptr = std::unique_ptr<gdImage, image_deleter>;

// An open dataset; closed, status ignored, when a failure leaves it open.
class dataset_handle {
public:
    dataset_handle() = default;
    ~dataset_handle()
    {
        if (id_ >= 0)
            (void)td_close(id_);
    }
    dataset_handle(const dataset_handle&) = delete;
    dataset_handle& operator=(const dataset_handle&) = delete;

    int* place() noexcept { return &id_; }
    int id() const noexcept { return id_; }
    // The final close, whose status the caller reports.
    [[nodiscard]] int close() noexcept
    {
        const int status = td_close(id_);
        if (status == TD_NOERR)
            id_ = -1;
        return status;
    }

private:
    int id_ = -1;
};

int fail(const char* name, const char* message, exit_status status)
{
    report_failure(message, name);
    return code(status);
}

// A failing library call: its message, and its status as the exit status.
int fail_status(const char* name, int status)
{
    report_failure(td_strerror(status), name);
    return status;
}

// The name under which output failures are reported.
const char* output_name(const cmd_options& options)
{
    return options.output ? options.output : "standard output";
}

// Where the image will go, settled before anything is drawn: -o naming the
// dataset (by any name), or a folder that cannot take the new file, fails
// here, and nothing is created or truncated.
int prepare_output(const cmd_options& options, const char* input, output_file& output)
{
    switch (output.prepare(options.output, input)) {
    case output_status::ok:
        return 0;
    case output_status::is_input:
        return fail(output_name(options), "output file is the input dataset", exit_status::output_failed);
    default:
        return fail(output_name(options), "can't create output file", exit_status::output_failed);
    }
}

int clamp_component(int value) noexcept
{
    return std::clamp(value, 0, 255);
}

int allocate(gdImagePtr image, int red, int green, int blue)
{
    return gdImageColorAllocate(image, clamp_component(red), clamp_component(green), clamp_component(blue));
}

int allocate(gdImagePtr image, const rgb& colour)
{
    return allocate(image, colour.red, colour.green, colour.blue);
}

// The palette indices of one image, made in their fixed order.
struct palette {
    int background = 0;
    int foreground = 1;
    int black = 0;
    int white = 1;
    std::array<int, max_colours> data{};
    int bad = 0;
    std::array<int, 8> planes{};
};

// The plane entry that holds the colour of values below the range.
constexpr std::size_t under_entry = 7;

palette allocate_palette(gdImagePtr image, const cmd_options& options, const cmap& map)
{
    palette p;
    const int back = options.invert ? 255 : 0;
    const int fore = 255 - back;
    p.background = allocate(image, back, back, back);
    p.foreground = allocate(image, fore, fore, fore);
    p.black = options.invert ? p.foreground : p.background;
    p.white = options.invert ? p.background : p.foreground;
    const int n = options.colours;
    for (int i = 0; i < n; ++i) {
        const auto& entry = map.rgb[static_cast<std::size_t>(cmap_entry(i, n))];
        p.data[static_cast<std::size_t>(i)] = allocate(image, entry[0], entry[1], entry[2]);
    }
    p.bad = allocate(image, options.bad_colour);
    for (std::size_t plane = 0; plane < p.planes.size(); ++plane) {
        // Plane 8 is never painted: its entry holds the colour of values
        // below the range when one is given, so no index moves.
        const bool under = plane == under_entry && options.under == under_rule::colour;
        p.planes[plane] = allocate(image, under ? options.under_colour : options.plane_colour[plane]);
    }
    return p;
}

// The lengths of "rows" and "columns": both ids first, then both lengths.
// The library refuses undefined and negative lengths; a length of 0 is a
// dataset with no samples, drawn as scale and frames only.
int dimension_lengths(int dataset, int& rows, int& columns)
{
    int rows_id = 0;
    int columns_id = 0;
    if (const int s = td_dimid(dataset, "rows", &rows_id); s != TD_NOERR)
        return fail_status("rows", s);
    if (const int s = td_dimid(dataset, "columns", &columns_id); s != TD_NOERR)
        return fail_status("columns", s);
    if (const int s = td_diminq(dataset, rows_id, nullptr, &rows); s != TD_NOERR)
        return fail_status("rows", s);
    if (const int s = td_diminq(dataset, columns_id, nullptr, &columns); s != TD_NOERR)
        return fail_status("columns", s);
    if (rows < 0)
        return fail_status("rows", TD_EBADDIMID);
    if (columns < 0)
        return fail_status("columns", TD_EBADDIMID);
    return 0;
}

// The failure line of a tick count below 1; all end with exit_status::no_ticks.
int tics_failure(int count)
{
    switch (count) {
    case -1:
        return fail("make_tics", "ticint too small for min, max", exit_status::no_ticks);
    case -2:
        return fail("make_tics", "tick labels too long for min, max", exit_status::no_ticks);
    case -3:
        return fail("malloc", "unable to allocate tick memory", exit_status::no_ticks);
    default:
        return fail("make_tics", "ticint too large for min, max", exit_status::no_ticks);
    }
}

} // namespace

int convert(cmd_options& options)
{
    const char* input = options.input ? options.input : "";

    dataset_handle dataset;
    if (const int s = td_open(input, TD_READONLY, dataset.place()); s != TD_NOERR) {
        *dataset.place() = -1;
        return fail_status(input, s);
    }

    output_file output;
    if (const int s = prepare_output(options, input, output); s != 0)
        return s;

    int rows = 0;
    int columns = 0;
    if (const int s = dimension_lengths(dataset.id(), rows, columns); s != 0)
        return s;
    // The raster as shown: the dataset's size, or its reduced size.
    const int factor = options.fit > 0 ? fit_factor(rows, columns, options.fit) : options.reduce;
    const int shown_rows = reduced_length(rows, factor);
    const int shown_columns = reduced_length(columns, factor);

    std::array<char, 32> variable{};
    if (const int s = td_varinq(dataset.id(), 0, variable.data(), nullptr, nullptr, nullptr, nullptr);
        s != TD_NOERR)
        return fail_status("variable 0", s);

    int graphics = 1;
    if (td_varid(dataset.id(), "graphics", &graphics) != TD_NOERR) {
        options.fixed_planes = 0;
        options.dynamic_planes = 0;
    }

    std::array<char, 32> data_id{};
    if (const int s = td_attget_text(dataset.id(), 0, "data_id", data_id.data()); s != TD_NOERR)
        return fail_status("data_id", s);

    int kind = -1;
    if (const int s = td_kindinq(dataset.id(), &kind, nullptr); s != TD_NOERR)
        return fail_status("data_id", s);
    if (const int s = apply_kind_defaults(options, kind, data_id.data()); s != 0)
        return s;
    std::array<char, TD_UNITS_SIZE> units_label{};
    if (const int s = td_unitsinq(dataset.id(), nullptr, nullptr, units_label.data()); s != TD_NOERR)
        return fail_status("data_id", s);

    // Infinite extents make a meaningless range, like reversed ones.
    if (!(options.min < options.max) || !std::isfinite(options.min) || !std::isfinite(options.max))
        return fail("min >= max", "invalid data extents", exit_status::bad_extents);

    const cmap* map = find_cmap(options.cmap ? options.cmap : "");
    if (!map)
        return fail(options.cmap ? options.cmap : "", "invalid color map", exit_status::unknown_colour_map);

    const std::string format = tick_format(options.decimals);
    std::vector<tic> tics;
    const int count = make_tics(tics, options.min, options.max, options.ticint, format.c_str());
    if (count < 1 || tics.empty())
        return tics_failure(count);
    // A scale too dense to draw comes with its widest ticks only; it is
    // refused where nothing else can fail any more, so that a failing read
    // of the run is the one reported.
    const bool scale_drawable = tics.size() == static_cast<std::size_t>(count);

    int widest = tics.front().len;
    for (const tic& t : tics)
        widest = std::max(widest, t.len);

    raster_params raster;
    raster.rows = static_cast<unsigned>(rows);
    raster.columns = static_cast<unsigned>(columns);
    raster.dataset = dataset.id();
    raster.data_variable = 0;
    raster.graphics_variable = graphics;
    raster.fixed_planes = options.fixed_planes;
    raster.dynamic_planes = options.dynamic_planes;
    raster.variable_name = variable.data();
    raster.reduce = static_cast<unsigned>(factor);
    if (const int s = probe_rows(raster); s != 0)
        return s;

    const gdFontPtr giant = gdFontGetGiant();
    const int width = shown_columns + layout::scale_width + giant->w * widest + giant->h;
    const int height = shown_rows + layout::extra_height;
    image_ptr image(gdImageCreate(width, height));
    if (!image)
        return fail("gdImageCreate", "can't create image", exit_status::no_image);

    const palette colours = allocate_palette(image.get(), options, *map);

    draw_frames(image.get(), colours.foreground, shown_rows, shown_columns);
    if (scale_drawable)
        draw_tics(image.get(), giant, tics, colours.foreground, shown_rows, shown_columns);
    draw_units(image.get(), giant, colours.foreground, units_label.data(), options.fahrenheit);

    raster.data_colours = colours.data.data();
    raster.colours = options.colours;
    raster.bad_colour = colours.bad;
    raster.plane_colours = colours.planes.data();
    raster.min = options.min;
    raster.max = options.max;
    raster.fahrenheit = options.fahrenheit;
    raster.black = colours.black;
    raster.white = colours.white;
    if (options.under == under_rule::colour)
        raster.under_colour = colours.planes[under_entry];
    else if (options.under == under_rule::lowest)
        raster.under_colour = colours.data[0];
    if (const int s = draw_data(image.get(), raster); s != 0)
        return s;

    draw_colorbar(image.get(), colours.data.data(), options.colours, shown_rows, shown_columns);

    if (options.stamp) {
        if (const int s = draw_stamp(image.get(), gdFontGetSmall(), colours.background, colours.foreground,
                                     dataset.id(), 0, options.utc);
            s != 0)
            return s;
    }

    if (!scale_drawable)
        return tics_failure(-1);

    std::FILE* out = nullptr;
    if (output.open_stream(out) != output_status::ok)
        return fail(output_name(options), "can't create output file", exit_status::output_failed);
    gdImageGif(image.get(), out);
    if (output.commit() != output_status::ok)
        return fail(output_name(options), "can't write output file", exit_status::output_failed);

    if (const int s = dataset.close(); s != TD_NOERR)
        return fail_status(input, s);
    return 0;
}

} // namespace tdf
