// convert_render_test.cpp - whole images made by the real executable,
// decoded with gd and compared pixel by pixel with an image drawn here from
// the dataset's description: the raster's colour of every sample, the
// graphics planes, the frames, the colour bar, the tick marks, the tick and
// units labels, and the time stamp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gd.h>
#include <gdfontg.h>
#include <gdfonts.h>

#include "dataset_writer.h"
#include "gif_image.h"
#include "run_command.h"

namespace {

using tdtest::colour;
using tdtest::image_ptr;

enum class kind { visible, infrared, scan_time, angle, cloud };

using sample_fn = std::function<int(int row, int column)>;

// Samples lo..hi spread over the image, and every 23rd sample `hole`.
sample_fn spread(int lo, int hi, std::optional<int> hole = {})
{
    return [=](int r, int c) {
        if (hole && (r * 7 + c) % 23 == 0)
            return *hole;
        return lo + (r * 1031 + c * 257) % (hi - lo + 1);
    };
}

struct dataset_desc {
    kind what = kind::infrared;
    int rows = 8;
    int columns = 68; // 136 bytes of two-byte samples: the header's row slot
    bool compressed = false;
    std::int16_t vertical_shift = 0;
    std::int16_t horizontal_shift = 0;
    std::int16_t calibration_type = 2;
    std::int16_t channel = 0; // 0: the writer's default for the kind
    sample_fn value{};
    sample_fn nibble{}; // none: no plane bits
};

// One -1 .. -4 option: a fixed colour, or "dyn" when there is none.
struct plane_arg {
    int plane;
    std::optional<colour> rgb{};
};

struct settings {
    int colours = 0;           // 0: not given (245)
    const char* min = nullptr; // option values as typed; nullptr: not given
    const char* max = nullptr;
    const char* ticint = nullptr;
    int decimals = -1; // -1: not given (1)
    const char* cmap = nullptr;
    bool fahrenheit = false;
    bool invert = false;
    std::optional<colour> bad{};
    std::vector<plane_arg> planes{};
    bool stamp = false;
    bool utc = false;
    const char* tz = nullptr;   // TZ of the run; nullptr: inherited
    const char* time_text = ""; // the stamp's time for the orbit start below
};

struct render_case {
    const char* name;
    dataset_desc data;
    settings opts;
};

void PrintTo(const render_case& c, std::ostream* os)
{
    *os << c.name;
}

std::string rgb_arg(const colour& c)
{
    return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

std::vector<std::string> arguments(const settings& s, const std::string& path)
{
    std::vector<std::string> a;
    if (s.colours)
        a.insert(a.end(), {"-c", std::to_string(s.colours)});
    if (s.min)
        a.insert(a.end(), {"-l", s.min});
    if (s.max)
        a.insert(a.end(), {"-h", s.max});
    if (s.ticint)
        a.insert(a.end(), {"-t", s.ticint});
    if (s.decimals >= 0)
        a.insert(a.end(), {"-d", std::to_string(s.decimals)});
    if (s.cmap)
        a.insert(a.end(), {"-m", s.cmap});
    if (s.bad)
        a.insert(a.end(), {"-b", rgb_arg(*s.bad)});
    for (const plane_arg& p : s.planes)
        a.insert(a.end(), {"-" + std::to_string(p.plane), p.rgb ? rgb_arg(*p.rgb) : "dyn"});
    for (auto [on, flag] : {std::pair{s.fahrenheit, "-f"}, {s.invert, "-i"}, {s.stamp, "-s"}, {s.utc, "-u"}})
        if (on)
            a.push_back(flag);
    a.push_back(path);
    return a;
}

// Orbit start of every test dataset: 1999/05/12 14:23:05 UTC.
tdw::DatasetDescription writer_spec(const dataset_desc& d)
{
    tdw::DatasetDescription desc;
    desc.data_id = d.what == kind::visible    ? tdw::kVisible
                   : d.what == kind::infrared ? tdw::kInfrared
                   : d.what == kind::cloud    ? tdw::kCloud
                                              : tdw::kAncillary;
    desc.rows = static_cast<std::int16_t>(d.rows);
    desc.columns = static_cast<std::int16_t>(d.columns);
    desc.compressed = d.compressed;
    desc.value = d.value;
    desc.nibble = d.nibble;
    desc.fields = {{"calibration_type", d.calibration_type},
                   {"vertical_shift", d.vertical_shift},
                   {"horizontal_shift", d.horizontal_shift},
                   {"orbit_start_year", 99},
                   {"orbit_start_day", 132},
                   {"orbit_start_hour_minute", 1423},
                   {"orbit_start_second", 5}};
    if (d.what == kind::scan_time)
        desc.fields["channel_number"] = 105;
    if (d.channel)
        desc.fields["channel_number"] = d.channel;
    return desc;
}

// The name of the data variable for the channels the cases use.
std::string channel_name(const dataset_desc& d)
{
    if (d.channel == 6)
        return "mcsst";
    if (d.channel == 102)
        return "sat_zenith";
    switch (d.what) {
    case kind::visible:
        return "avhrr_ch1";
    case kind::infrared:
        return "avhrr_ch4";
    case kind::scan_time:
        return "scan_time";
    case kind::angle:
        return "scan_angle";
    case kind::cloud:
        return "cloud";
    }
    return "";
}

// The physical value of a stored sample (0 where a shift leaves no sample);
// none for a missing one.
std::optional<float> calibrated(const dataset_desc& d, int s)
{
    switch (d.what) {
    case kind::cloud:
        return static_cast<float>(s);
    case kind::angle:
        if (s == 0)
            return std::nullopt;
        return static_cast<float>((static_cast<std::uint16_t>(s) - 1) / 128.0);
    case kind::scan_time: {
        const int w = static_cast<std::int16_t>(s);
        const int h = w / 100;
        return static_cast<float>(h + (w - 100 * h) * double{1.0f / 60.0f});
    }
    case kind::visible:
    case kind::infrared:
        break;
    }
    if (d.calibration_type == 0)
        return s >= 1 && s <= 1024 ? std::optional<float>(static_cast<float>(s - 1)) : std::nullopt;
    if (s < 1 || s > 2047)
        return std::nullopt;
    if (d.what == kind::visible)
        return static_cast<float>((s - 1) * double{0.04885198f});
    const double kelvin = double{273.15f};
    if (s <= 920)
        return static_cast<float>((s - 1) * double{0.1f} + double{static_cast<float>(178 - kelvin)});
    if (s >= 1722)
        return static_cast<float>((s - 1721) * double{0.1f} + double{static_cast<float>(310 - kelvin)});
    const double t = (s - 921) * double{0.05f} + double{static_cast<float>(270 - kelvin)};
    return std::fabs(t) < double{0.01f} ? 0.0f : static_cast<float>(t);
}

// Halves away from zero.
int round_nearest(float x)
{
    return static_cast<int>(x > 0 ? std::floor(double{x} + 0.5) : std::ceil(double{x} - 0.5));
}

float option_float(const char* given, float fallback)
{
    return given ? static_cast<float>(std::atof(given)) : fallback;
}

struct scale_defaults {
    float min, max, ticint;
    const char* cmap;
};

scale_defaults kind_defaults(kind k, bool fahrenheit)
{
    switch (k) {
    case kind::infrared:
        return fahrenheit ? scale_defaults{39.2f, 86, 2, "hsl256"} : scale_defaults{4, 30, 2, "hsl256"};
    case kind::visible:
        return {0, 20, 2, "black-white"};
    case kind::scan_time:
        return {0, 24, 2, "black-white"};
    case kind::angle:
        return {0, 90, 5, "black-white"};
    case kind::cloud:
        return {0, 255, 16, "hsl256"};
    }
    return {};
}

std::string units_label(const dataset_desc& d, bool fahrenheit)
{
    switch (d.what) {
    case kind::visible:
        return "albedo (%)";
    case kind::scan_time:
        return "hours";
    case kind::angle:
        return "degrees";
    case kind::cloud:
        return "byte value";
    case kind::infrared:
        break;
    }
    std::string label = channel_name(d).find("sst") == std::string::npos ? "brightness " : "";
    return label + "temperature (\xb0" + (fahrenheit ? "F)" : "C)");
}

std::string stamp_text(const dataset_desc& d, const settings& s)
{
    std::string variable = channel_name(d);
    for (char& ch : variable)
        ch = ch == '_' ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return "HESK-14 " + variable + " " + s.time_text;
}

struct expectation {
    image_ptr image; // every pixel's palette index
    std::vector<colour> palette;
};

void draw_text(gdImagePtr image, gdFontPtr font, int x, int y, std::string text, int colour, bool up = false)
{
    auto* bytes = reinterpret_cast<unsigned char*>(text.data());
    up ? gdImageStringUp(image, font, x, y, bytes, colour) : gdImageString(image, font, x, y, bytes, colour);
}

// The image a run of `c` must write, drawn from the description alone.
expectation expected_image(const render_case& c)
{
    const dataset_desc& d = c.data;
    const settings& s = c.opts;
    const scale_defaults def = kind_defaults(d.what, s.fahrenheit);
    const float min = option_float(s.min, def.min);
    const float max = option_float(s.max, def.max);
    const float ticint = option_float(s.ticint, def.ticint);
    const int n = s.colours ? s.colours : 245;
    const int decimals = s.decimals >= 0 ? s.decimals : 1;
    const bool graphics = d.what == kind::visible || d.what == kind::infrared;

    // Ticks, in the converter's single precision.
    const float range = max - min;
    const int count = round_nearest(range / ticint) + 1;
    std::vector<std::pair<std::string, float>> tics; // label, pos
    std::size_t widest = 0;
    for (int i = 0; i < count; ++i) {
        char label[32];
        std::snprintf(label, sizeof label, "%*.*f", decimals + 3, decimals, i * double{ticint} + double{min});
        tics.emplace_back(label, static_cast<float>(i * double{ticint}) / range);
        widest = std::max(widest, tics.back().first.size());
    }
    const int C = d.columns, R = d.rows;
    const int width = C + 89 + 9 * static_cast<int>(widest), height = R + 22;

    std::vector<colour> planes(4, colour{0, 0, 0});
    std::uint8_t fixed = 0, dynamic = 0;
    for (const plane_arg& p : s.planes) {
        (p.rgb ? fixed : dynamic) |= static_cast<std::uint8_t>(1 << (p.plane - 1));
        if (p.rgb)
            planes[static_cast<std::size_t>(p.plane - 1)] = *p.rgb;
    }
    expectation e{image_ptr(gdImageCreate(width, height)),
                  tdtest::expected_palette(s.cmap ? s.cmap : def.cmap, n, s.invert,
                                           s.bad.value_or(colour{0, 0, 0}), planes)};
    gdImagePtr im = e.image.get();
    for (int i = 0; i < gdMaxColors; ++i)
        gdImageColorAllocate(im, 0, 0, 0); // indices only; the values are in e.palette
    const int fg = 1, black = s.invert ? 1 : 0, white = s.invert ? 0 : 1, bad = n + 2;

    gdImageRectangle(im, 5, 5, C + 16, R + 16, fg);
    gdImageRectangle(im, C + 22, 5, C + 53, R + 16, fg);
    for (const auto& [label, pos] : tics) {
        const int y = static_cast<int>(static_cast<float>(height - 12) - static_cast<float>(R - 1) * pos);
        gdImageLine(im, C + 54, y, C + 59, y, fg);
        draw_text(im, gdFontGetGiant(), C + 64, y - 7, label, fg);
    }
    const std::string units = units_label(d, s.fahrenheit);
    const int units_y = height / 2 + static_cast<int>(units.size()) * 9 / 2;
    draw_text(im, gdFontGetGiant(), width - 21, units_y, units, fg, true);

    // The raster: scale and offset as the renderer holds them.
    const double scale_d = (n - 1) / (double{max} - double{min});
    const float scale = static_cast<float>(scale_d), offset = static_cast<float>(-(scale_d * min));
    const bool planes_in_use = graphics && (fixed | dynamic) != 0;
    for (int r = 0; r < R; ++r)
        for (int col = 0; col < C; ++col) {
            const int sr = r - d.vertical_shift, sc = col - d.horizontal_shift;
            const bool stored = sr >= 0 && sr < R && sc >= 0 && sc < C;
            const std::optional<float> v = calibrated(d, stored && d.value ? d.value(sr, sc) : 0);
            int index = bad;
            if (v) {
                const double x =
                    s.fahrenheit ? scale * (1.8 * *v + 32.0) + offset : double{scale} * *v + offset;
                const int k = round_nearest(static_cast<float>(x));
                index = k < 0 ? bad : 2 + std::min(k, n - 1);
            }
            const int g = planes_in_use && d.nibble ? d.nibble(r, col) : 0;
            for (int p : {4, 1, 3, 2}) {
                const int bit = 1 << (p - 1);
                if (!(g & bit))
                    continue;
                if (fixed & bit) {
                    index = n + 2 + p;
                } else if (dynamic & bit) {
                    const colour under = e.palette[static_cast<std::size_t>(index)];
                    index = 0.299 * under.r + 0.587 * under.g + 0.114 * under.b < 127 ? white : black;
                }
            }
            gdImageSetPixel(im, col + 11, r + 11, index);
        }

    for (int i = 0; i < R; ++i) {
        // A single row has the one line of data colour 0 (no 0 / 0).
        const int k = R == 1 ? 0
                             : round_nearest(static_cast<float>(i) / static_cast<float>(R - 1) *
                                             static_cast<float>(n - 1));
        gdImageLine(im, C + 28, height - 12 - i, C + 47, height - 12 - i, 2 + k);
    }

    if (s.stamp) {
        const std::string text = stamp_text(d, s);
        const int right = (static_cast<int>(text.size()) + 2) * 6 + 11;
        gdImageFilledRectangle(im, 11, height - 25, right, height - 12, 0);
        gdImageRectangle(im, 11, height - 25, right, height - 12, fg);
        draw_text(im, gdFontGetSmall(), 17, height - 25, text, fg);
    }
    return e;
}

// Where a pixel lies, for the failure messages.
std::string region(int x, int y, int columns, int rows, int width)
{
    if (x >= 11 && x <= columns + 10 && y >= 11 && y <= rows + 10)
        return "raster";
    if (x >= columns + 28 && x <= columns + 47)
        return "colour bar";
    if (x >= columns + 54 && x <= columns + 59)
        return "tick marks";
    if (x >= columns + 64 && x < width - 21)
        return "tick labels";
    if (x >= width - 21)
        return "units label";
    return "frames or margin";
}

// Cloud columns: the header's 136 bytes fill the first row slot of a plain
// dataset (68 columns of two-byte samples, the default, do the same).
constexpr int C1 = 136;
// Wide enough for the whole stamp box of some 42 characters to lie on the raster.
constexpr int stamp_columns = 280;

const colour red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255}, white_rgb{255, 255, 255};

const std::vector<render_case> cases = {
    {"visible albedo, missing samples, bad colour",
     {.what = kind::visible, .rows = 12, .columns = 70, .value = spread(-6, 460, 0)},
     {.bad = red}},
    {"visible compressed, Fahrenheit, prism, two colours",
     {.what = kind::visible, .rows = 10, .columns = 72, .compressed = true, .value = spread(-3, 900)},
     {.colours = 2, .min = "30", .max = "80", .ticint = "5", .cmap = "prism", .fahrenheit = true}},
    {"mcsst temperature, 245 colours, two decimals, missing samples",
     {.what = kind::infrared, .rows = 14, .channel = 6, .value = spread(880, 1750, -40)},
     {.colours = 245, .decimals = 2, .bad = colour{10, 20, 30}}},
    {"infrared compressed, planes, Fahrenheit, hsl256_tek, no decimals",
     {.what = kind::infrared,
      .rows = 9,
      .columns = 80,
      .compressed = true,
      .value = spread(0, 2047, -2047),
      .nibble = [](int r, int c) { return (r * 3 + c) % 11 == 0 ? 0x5 : 0; }},
     {.decimals = 0, .cmap = "hsl256_tek", .fahrenheit = true, .planes = {{3, {}}, {1, blue}}}},
    // The graphics are not shifted with the data.
    {"raw counts, vertical shift, meridia",
     {.what = kind::infrared,
      .rows = 8,
      .vertical_shift = 2,
      .calibration_type = 0,
      .value = [](int r, int c) { return c == 0 ? 1024 + r % 2 : (r * 29 + c * 3) % 70 - 3; },
      .nibble = [](int r, int c) { return r == c % 8 ? 0x8 : 0; }},
     {.colours = 61, .min = "0", .max = "60", .ticint = "10", .cmap = "meridia", .planes = {{4, red}}}},
    {"planes fixed, dynamic and in both masks, order 4 1 3 2",
     {.what = kind::infrared,
      .rows = 10,
      .value = spread(900, 1700, 0),
      .nibble = [](int r, int c) { return (r * 5 + c) % 16; }},
     {.colours = 10, .planes = {{4, red}, {2, blue}, {1, {}}, {3, {}}, {3, green}}}},
    {"inverted, plane 4 fixed white under a dynamic plane 2",
     {.what = kind::visible, .rows = 8, .value = spread(1, 420), .nibble = [](int, int c) { return c % 16; }},
     {.invert = true, .planes = {{4, white_rgb}, {2, {}}}}},
    {"cloud, planes asked for but not painted",
     {.what = kind::cloud, .rows = 7, .columns = C1, .value = spread(0, 255)},
     {.planes = {{1, red}, {2, {}}}}},
    {"angle, half steps and below min, planes asked for",
     {.what = kind::angle,
      .rows = 8,
      .columns = 70,
      .channel = 102,
      // Row 0: angles 0, 1/128, 0.5, 1, ... 89.5, 90, 90.5, 511.99, that is
      // x = -0.5 (bad), halves (away from zero), the top and beyond it.
      .value =
          [](int r, int c) {
              constexpr int edges[] = {0,   1,     2,     64,    65,    66,    129,
                                       193, 11393, 11457, 11521, 11585, 11649, 65535};
              return r == 0 ? edges[c % std::size(edges)] : spread(0, 11650)(r, c);
          }},
     {.colours = 91, .min = "0.5", .max = "90.5", .ticint = "10", .planes = {{3, green}}}},
    {"scan time, horizontal shift",
     {.what = kind::scan_time, .rows = 6, .horizontal_shift = -3, .value = spread(-300, 2500)},
     {}},
    {"one row", {.what = kind::infrared, .rows = 1, .value = spread(900, 1700)}, {}},
    {"stamp in UTC, one colour",
     {.what = kind::infrared, .rows = 16, .columns = stamp_columns, .value = spread(900, 1700)},
     {.colours = 1, .stamp = true, .utc = true, .tz = "XYZW+3", .time_text = "1999/05/12 14:23:05 UTC"}},
    {"stamp in local time, four-letter zone",
     {.what = kind::visible, .rows = 16, .columns = stamp_columns, .value = spread(1, 420)},
     {.stamp = true, .tz = "XYZW+3", .time_text = "1999/05/12 11:23:05 XYZW"}},
    {"stamp in local time, summer time",
     {.what = kind::scan_time, .rows = 15, .columns = stamp_columns, .value = spread(0, 2400)},
     {.stamp = true, .tz = "EST5EDT,M3.2.0,M11.1.0", .time_text = "1999/05/12 10:23:05 EDT"}},
};

class ConvertRender : public testing::TestWithParam<render_case> {};

TEST_P(ConvertRender, ImageMatchesItsDescription)
{
    const render_case& c = GetParam();
    const tdtest::TempDir dir;
    const std::string path = dir.file("dataset");
    tdw::write_dataset(path, writer_spec(c.data));
    tdtest::CommandOptions run_options;
    if (c.opts.tz)
        run_options.env.push_back(std::string("TZ=") + c.opts.tz);
    const auto run = tdtest::run_command(tdtest::tdftogif_path(), arguments(c.opts, path), run_options);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const image_ptr actual = tdtest::decode(run.out);
    ASSERT_TRUE(actual);

    const expectation expected = expected_image(c);
    const gdImagePtr a = actual.get(), e = expected.image.get();
    ASSERT_EQ(gdImageSX(a), gdImageSX(e));
    ASSERT_EQ(gdImageSY(a), gdImageSY(e));
    tdtest::expect_palette(a, expected.palette);

    int mismatches = 0;
    std::ostringstream first;
    for (int y = 0; y < gdImageSY(e); ++y)
        for (int x = 0; x < gdImageSX(e); ++x) {
            const int want = gdImageGetPixel(e, x, y), got = gdImageGetPixel(a, x, y);
            if (want != got && ++mismatches <= 8)
                first << "  (" << x << "," << y << ") "
                      << region(x, y, c.data.columns, c.data.rows, gdImageSX(e)) << ": index " << got
                      << ", expected " << want << "\n";
        }
    EXPECT_EQ(mismatches, 0) << first.str();
}

INSTANTIATE_TEST_SUITE_P(Cases, ConvertRender, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<render_case>& info) {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             return name;
                         });

} // namespace
