// phase_timers.cpp - where the converter's time goes, measured at the seams
// between its pieces.  Linked only into the benchmark's tdftogif_phases,
// which is the converter built from the same objects with the linker's
// --wrap on the calls below; the product build has no timers at all.
//
// The driver makes one straight pass, so every phase is the time spent in a
// call, or between two calls:
//   open    td_open
//   setup   after td_open up to the image's creation (output file,
//           inquiries, ticks, gdImageCreate), without the row read the
//           driver makes there before it creates the image
//   scale   palette, frames, ticks and units label before the raster, and
//           the colour bar and time stamp after it
//   index   the first read's pass over a compressed stream (RowIndex::build)
//   reads   td_varget_float and td_varget_byte wherever they are called,
//           without the index pass
//   colour  draw_data without its reads: the pixel loop
//   gif     gdImageGif and the close of the output file
//   close   td_close
// At exit one line goes to standard error:
//   tdf-phases: open=S setup=S scale=S index=S reads=S colour=S gif=S close=S inside=S
// with S in seconds; inside is the time from static initialisation to exit.
#include <chrono>
#include <cstdint>
#include <cstdio>

#include <gd.h>

#include "raster.h"
#include "registry.h"
#include "tidewell.h"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds(clock_type::duration d)
{
    return std::chrono::duration<double>(d).count();
}

struct Phases {
    clock_type::time_point started = clock_type::now();
    clock_type::time_point open_end{};
    clock_type::time_point image_made{};
    clock_type::time_point data_start{};
    clock_type::time_point data_end{};
    clock_type::time_point gif_start{};
    clock_type::duration open{}, setup{}, scale{}, index{}, data{}, gif{}, close{};
    // Row reads inside draw_data, and before it (the driver's look at the
    // last row, which is also where a compressed dataset is indexed).
    clock_type::duration reads_in_data{}, reads_before_data{};
    bool in_data = false;

    clock_type::duration& reads() { return in_data ? reads_in_data : reads_before_data; }

    ~Phases()
    {
        const double inside = seconds(clock_type::now() - started);
        std::fprintf(stderr,
                     "tdf-phases: open=%.6f setup=%.6f scale=%.6f index=%.6f reads=%.6f colour=%.6f "
                     "gif=%.6f close=%.6f inside=%.6f\n",
                     seconds(open), seconds(setup - reads_before_data), seconds(scale), seconds(index),
                     seconds(reads_in_data + reads_before_data - index), seconds(data - reads_in_data),
                     seconds(gif), seconds(close), inside);
    }
};

Phases phases;

// Times one call into an accumulator.
template <class Call>
auto timed(clock_type::duration& into, Call call)
{
    const auto t0 = clock_type::now();
    auto result = call();
    into += clock_type::now() - t0;
    return result;
}

} // namespace

extern "C" {

int __real_td_open(const char* path, int mode, int* id);
int __real_td_close(int id);
int __real_td_varget_float(int id, int varid, const uint32_t start[2], const uint32_t count[2], float* out);
int __real_td_varget_byte(int id, int varid, const uint32_t start[2], const uint32_t count[2], uint8_t* out);
gdImagePtr __real_gdImageCreate(int sx, int sy);
void __real_gdImageGif(gdImagePtr image, FILE* out);
// td::RowIndex::build(td::Stream&, int, int) and
// tdf::draw_data(gdImagePtr, const tdf::raster_params&).
int __real__ZN2td8RowIndex5buildERNS_6StreamEii(td::RowIndex* index, td::Stream& file, std::int32_t rows,
                                                std::int32_t columns);
int __real__ZN3tdf9draw_dataEP13gdImageStructRKNS_13raster_paramsE(gdImagePtr image,
                                                                   const tdf::raster_params& params);

int __wrap_td_open(const char* path, int mode, int* id)
{
    const int s = timed(phases.open, [&] { return __real_td_open(path, mode, id); });
    phases.open_end = clock_type::now();
    return s;
}

gdImagePtr __wrap_gdImageCreate(int sx, int sy)
{
    gdImagePtr image = __real_gdImageCreate(sx, sy);
    phases.image_made = clock_type::now();
    phases.setup += phases.image_made - phases.open_end;
    return image;
}

int __wrap__ZN3tdf9draw_dataEP13gdImageStructRKNS_13raster_paramsE(gdImagePtr image,
                                                                   const tdf::raster_params& params)
{
    phases.data_start = clock_type::now();
    phases.scale += phases.data_start - phases.image_made;
    phases.in_data = true;
    const int s = timed(phases.data, [&] {
        return __real__ZN3tdf9draw_dataEP13gdImageStructRKNS_13raster_paramsE(image, params);
    });
    phases.in_data = false;
    phases.data_end = clock_type::now();
    return s;
}

int __wrap_td_varget_float(int id, int varid, const uint32_t start[2], const uint32_t count[2], float* out)
{
    return timed(phases.reads(), [&] { return __real_td_varget_float(id, varid, start, count, out); });
}

int __wrap_td_varget_byte(int id, int varid, const uint32_t start[2], const uint32_t count[2], uint8_t* out)
{
    return timed(phases.reads(), [&] { return __real_td_varget_byte(id, varid, start, count, out); });
}

int __wrap__ZN2td8RowIndex5buildERNS_6StreamEii(td::RowIndex* index, td::Stream& file, std::int32_t rows,
                                                std::int32_t columns)
{
    return timed(phases.index,
                 [&] { return __real__ZN2td8RowIndex5buildERNS_6StreamEii(index, file, rows, columns); });
}

void __wrap_gdImageGif(gdImagePtr image, FILE* out)
{
    phases.gif_start = clock_type::now();
    phases.scale += phases.gif_start - phases.data_end;
    __real_gdImageGif(image, out);
}

int __wrap_td_close(int id)
{
    const auto t0 = clock_type::now();
    // The GIF phase ends where the dataset's close begins: it takes in the
    // flush and close of the output file.
    if (phases.gif_start != clock_type::time_point{} && phases.gif == clock_type::duration{})
        phases.gif = t0 - phases.gif_start;
    return timed(phases.close, [&] { return __real_td_close(id); });
}

} // extern "C"
