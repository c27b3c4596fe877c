// Raster rendering: the rounding rule, and draw_data reading real datasets
// made by the project's writer into real gd palette images.
#include <gtest/gtest.h>

#include <gd.h>

#include <algorithm>
#include <array>
#include <functional>
#include <climits>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "arithmetic.h"
#include "dataset_writer.h"
#include "gif_image.h"
#include "raster.h"
#include "run_command.h"
#include "tidewell.h"

namespace {

using tdf::round_nearest;

TEST(RoundNearest, HalvesGoAwayFromZero)
{
    const struct {
        float x;
        int want;
    } cases[] = {
        {0.0f, 0},
        {-0.0f, 0},
        {0.5f, 1},
        {-0.5f, -1},
        {1.5f, 2},
        {2.5f, 3},
        {-2.5f, -3},
        {0.4999999f, 0},
        {-0.4999999f, 0},
        {0.4f, 0},
        {-0.4f, 0},
        {9.6f, 10},
        {244.49998f, 244},
        {244.5f, 245},
        {8388609.0f, 8388609},
        {2147483520.0f, 2147483520},
        {-2147483648.0f, INT_MIN},
        {1e10f, INT_MAX},
        {-1e10f, INT_MIN},
        {INFINITY, INT_MAX},
        {-INFINITY, INT_MIN},
        {std::nanf(""), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(round_nearest(c.x), c.want) << c.x;
}

using tdtest::image_ptr;

// Palette of the tests, laid out as the converter lays it out: black, white,
// n data colours, the bad colour, eight plane colours.
struct palette {
    std::vector<int> data;
    int bad = 0;
    std::array<int, 8> planes{};
};

image_ptr make_image(int rows, int columns, int n, palette& pal,
                     const std::vector<std::array<int, 3>>& data_rgb = {},
                     const std::array<std::array<int, 3>, 8>& plane_rgb = {})
{
    image_ptr im(gdImageCreate(columns + 125, rows + 22));
    gdImageColorAllocate(im.get(), 0, 0, 0);
    gdImageColorAllocate(im.get(), 255, 255, 255);
    pal.data.clear();
    for (int i = 0; i < n; ++i) {
        const auto rgb = i < static_cast<int>(data_rgb.size()) ? data_rgb[i] : std::array<int, 3>{i, i, i};
        pal.data.push_back(gdImageColorAllocate(im.get(), rgb[0], rgb[1], rgb[2]));
    }
    pal.bad = gdImageColorAllocate(im.get(), 0, 0, 0);
    for (int p = 0; p < 8; ++p)
        pal.planes[p] = gdImageColorAllocate(im.get(), plane_rgb[p][0], plane_rgb[p][1], plane_rgb[p][2]);
    return im;
}

// A dataset written by the writer and open read-only for the test.
class open_dataset {
public:
    explicit open_dataset(const tdw::DatasetDescription& desc)
    {
        tdw::write_dataset(path_, desc);
        status_ = td_open(path_.c_str(), TD_READONLY, &id_);
    }
    ~open_dataset()
    {
        if (status_ == 0)
            (void)td_close(id_);
    }
    open_dataset(const open_dataset&) = delete;
    open_dataset& operator=(const open_dataset&) = delete;
    int id() const { return id_; }
    int status() const { return status_; }

private:
    tdtest::TempDir dir_;
    std::string path_ = dir_.file("data.tdf");
    int id_ = -1;
    int status_ = -1;
};

// Rows of a dataset file are as wide as the data; the header takes the first
// 136 bytes, so datasets of the tests are at least this many 2-byte columns
// wide.  Columns past the ones a test asks for hold the value 0.
constexpr int kMinColumns = 68;

std::function<int(int, int)> padded(std::function<int(int, int)> f, int columns)
{
    return [f = std::move(f), columns](int r, int c) { return c < columns ? f(r, c) : 0; };
}

// Raw counts of an infrared dataset: stored value v gives count v - 1, and 0
// gives the bad value.
tdw::DatasetDescription raw_infrared(int rows, int columns, std::function<int(int, int)> value,
                                     std::function<int(int, int)> nibble = {}, bool compressed = false)
{
    tdw::DatasetDescription desc;
    desc.data_id = tdw::kInfrared;
    desc.rows = static_cast<std::int16_t>(rows);
    desc.columns = static_cast<std::int16_t>(std::max(columns, kMinColumns));
    desc.compressed = compressed;
    desc.fields["calibration_type"] = 0;
    desc.value = padded(std::move(value), columns);
    if (nibble)
        desc.nibble = padded(std::move(nibble), columns);
    return desc;
}

// Scan times: the stored signed word w gives w / 100 hours and w % 100
// minutes, which reaches exact negative and fractional values.
tdw::DatasetDescription scan_times(const std::vector<int>& words)
{
    tdw::DatasetDescription desc;
    desc.data_id = tdw::kAncillary;
    desc.rows = 1;
    desc.columns = static_cast<std::int16_t>(std::max<std::size_t>(words.size(), kMinColumns));
    desc.fields["channel_number"] = 105;
    desc.value = [words](int, int c) { return c < static_cast<int>(words.size()) ? words[c] : 0; };
    return desc;
}

tdf::raster_params params_for(const palette& pal, int rows, int columns, int dataset, float min, float max)
{
    tdf::raster_params p;
    p.data_colours = pal.data.data();
    p.colours = static_cast<int>(pal.data.size());
    p.bad_colour = pal.bad;
    p.plane_colours = pal.planes.data();
    p.rows = static_cast<unsigned>(rows);
    p.columns = static_cast<unsigned>(columns);
    p.dataset = dataset;
    p.data_variable = 0;
    p.graphics_variable = 1;
    p.min = min;
    p.max = max;
    p.variable_name = "avhrr_ch4";
    p.black = 0;
    p.white = 1;
    return p;
}

int pixel(const image_ptr& im, int row, int column)
{
    return gdImageGetPixel(im.get(), column + 11, row + 11);
}

TEST(DrawData, EveryCountTakesItsColour)
{
    // Row 0: counts 0 .. 255; row 1: missing, the largest count, beyond it.
    open_dataset ds(raw_infrared(2, 256, [](int r, int c) {
        if (r == 0)
            return c + 1;
        return c == 0 ? 0 : (c == 1 ? 1024 : 1025);
    }));
    ASSERT_EQ(ds.status(), 0);
    palette pal;
    auto im = make_image(2, 256, 245, pal);
    auto p = params_for(pal, 2, 256, ds.id(), 0.0f, 244.0f);
    ASSERT_EQ(tdf::draw_data(im.get(), p), 0);
    for (int c = 0; c < 256; ++c)
        ASSERT_EQ(pixel(im, 0, c), pal.data[std::min(c, 244)]) << "count " << c;
    EXPECT_EQ(pixel(im, 1, 0), pal.bad);
    EXPECT_EQ(pixel(im, 1, 1), pal.data[244]);
    EXPECT_EQ(pixel(im, 1, 2), pal.bad) << "a raw count beyond 1023 is missing";
    // Nothing outside the raster is touched.
    for (int x = 0; x < gdImageSX(im.get()); ++x) {
        EXPECT_EQ(gdImageGetPixel(im.get(), x, 10), 0);
        EXPECT_EQ(gdImageGetPixel(im.get(), x, 13), 0);
    }
    EXPECT_EQ(gdImageGetPixel(im.get(), 10, 11), 0);
    EXPECT_EQ(gdImageGetPixel(im.get(), 256 + 11, 11), 0);
}

TEST(DrawData, PlacesOnTheScale)
{
    // 10 colours on 0 .. 9 (one colour per unit).
    const struct {
        int word; // stored scan time
        bool bad;
        int colour;
    } cases[] = {
        {0, false, 0},                     // min
        {900, false, 9},                   // max
        {-24, false, 0},                   // -0.4: within half a step below min
        {-30, true, 0},                    // -0.5: half a step below min is missing
        {-100, true, 0},  {430, false, 5}, // 4.5 rounds up
        {936, false, 9},                   // 9.6 is above the range: the last colour
        {5000, false, 9}, {-2359, true, 0},
    };
    std::vector<int> words;
    for (const auto& c : cases)
        words.push_back(c.word);
    open_dataset ds(scan_times(words));
    ASSERT_EQ(ds.status(), 0);
    palette pal;
    auto im = make_image(1, static_cast<int>(words.size()), 10, pal);
    ASSERT_EQ(
        tdf::draw_data(im.get(), params_for(pal, 1, static_cast<int>(words.size()), ds.id(), 0.0f, 9.0f)), 0);
    for (std::size_t i = 0; i < words.size(); ++i)
        EXPECT_EQ(pixel(im, 0, static_cast<int>(i)), cases[i].bad ? pal.bad : pal.data[cases[i].colour])
            << "stored " << cases[i].word;
}

TEST(DrawData, FahrenheitConvertsBeforePlacing)
{
    // 19 colours on 23 .. 41 F: one colour per degree Fahrenheit.
    open_dataset ds(scan_times({0, 100, -500, 1000, -1000}));
    ASSERT_EQ(ds.status(), 0);
    palette pal;
    auto im = make_image(1, 5, 19, pal);
    auto p = params_for(pal, 1, 5, ds.id(), 23.0f, 41.0f);
    p.fahrenheit = true;
    ASSERT_EQ(tdf::draw_data(im.get(), p), 0);
    EXPECT_EQ(pixel(im, 0, 0), pal.data[9]);  // 0 -> 32
    EXPECT_EQ(pixel(im, 0, 1), pal.data[11]); // 1 -> 33.8
    EXPECT_EQ(pixel(im, 0, 2), pal.data[0]);  // -5 -> 23
    EXPECT_EQ(pixel(im, 0, 3), pal.data[18]); // 10 -> 50
    EXPECT_EQ(pixel(im, 0, 4), pal.bad);      // -10 -> 14
}

TEST(DrawData, BadValueIsRecognisedInsideTheRange)
{
    open_dataset ds(raw_infrared(1, 2, [](int, int c) { return c == 0 ? 0 : 1; }));
    ASSERT_EQ(ds.status(), 0);
    palette pal;
    auto im = make_image(1, 2, 10, pal);
    ASSERT_EQ(tdf::draw_data(im.get(), params_for(pal, 1, 2, ds.id(), -2000.0f, 0.0f)), 0);
    EXPECT_EQ(pixel(im, 0, 0), pal.bad) << "-999 is missing even inside the range";
    EXPECT_EQ(pixel(im, 0, 1), pal.data[9]);
}

TEST(DrawData, SingleColour)
{
    open_dataset ds(scan_times({0, 500, -100}));
    ASSERT_EQ(ds.status(), 0);
    palette pal;
    auto im = make_image(1, 3, 1, pal);
    ASSERT_EQ(tdf::draw_data(im.get(), params_for(pal, 1, 3, ds.id(), 0.0f, 9.0f)), 0);
    EXPECT_EQ(pixel(im, 0, 0), pal.data[0]);
    EXPECT_EQ(pixel(im, 0, 1), pal.data[0]);
    EXPECT_EQ(pixel(im, 0, 2), pal.data[0]);
}

TEST(DrawData, CompressedDatasetRowByRow)
{
    open_dataset ds(raw_infrared(
        5, 7, [](int r, int c) { return 1 + r + c; }, {}, true));
    ASSERT_EQ(ds.status(), 0);
    palette pal;
    auto im = make_image(5, 7, 11, pal);
    ASSERT_EQ(tdf::draw_data(im.get(), params_for(pal, 5, 7, ds.id(), 0.0f, 10.0f)), 0);
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 7; ++c)
            EXPECT_EQ(pixel(im, r, c), pal.data[r + c]) << r << "," << c;
}

// Planes: data colours white, grey 128 and grey 126 (counts 0, 1, 2); the
// bad colour black; plane 3 dark blue, plane 4 white, the others distinct.
TEST(DrawData, GraphicsPlanes)
{
    const int W = -1; // stands for the white index
    const int K = -2; // black index
    const struct {
        int count; // -1: missing
        int g;     // graphics byte
        int fixed;
        int dynamic;
        int want; // palette index, or W / K, or 100 + p for plane p's colour, or 200 + i for data colour i
    } cases[] = {
        {0, 0x0A, 0x0A, 0x00, 102}, // planes 4 and 2 fixed: plane 2 is painted last
        {0, 0x0A, 0x08, 0x02, K},   // plane 4 fixed white, plane 2 dynamic over it
        {1, 0x01, 0x02, 0x04, 201}, // plane bit in neither mask
        {1, 0x04, 0x04, 0x04, 103}, // in both masks: fixed
        {0, 0x01, 0x00, 0x01, K},   // dynamic over white
        {1, 0x01, 0x00, 0x01, K},   // over grey 128
        {2, 0x01, 0x00, 0x01, W},   // over grey 126
        {-1, 0x01, 0x00, 0x01, W},  // over the black bad colour
        {0, 0x0F, 0x05, 0x0A, W},   // 4 dyn, 1 fixed, 3 fixed, 2 dyn over dark blue
        {0, 0x09, 0x01, 0x08, 101}, // 4 dynamic, then 1 fixed
        {0, 0x06, 0x06, 0x00, 102}, // 3 then 2
        {0, 0x03, 0x03, 0x00, 102}, // 1 then 2
        {0, 0x0C, 0x0C, 0x00, 103}, // 4 then 3
        {0, 0x00, 0x0F, 0x0F, 200}, // no plane at the pixel
    };
    const int n = static_cast<int>(std::size(cases));
    open_dataset ds(raw_infrared(
        1, n, [&](int, int c) { return cases[c].count + 1; }, [&](int, int c) { return cases[c].g & 0x0F; }));
    ASSERT_EQ(ds.status(), 0);
    const std::array<std::array<int, 3>, 8> plane_rgb{
        {{200, 0, 0}, {0, 200, 0}, {0, 0, 200}, {255, 255, 255}, {9, 9, 9}, {8, 8, 8}, {7, 7, 7}, {6, 6, 6}}};
    for (int i = 0; i < n; ++i) {
        palette pal;
        auto im = make_image(1, n, 3, pal, {{255, 255, 255}, {128, 128, 128}, {126, 126, 126}}, plane_rgb);
        auto p = params_for(pal, 1, n, ds.id(), 0.0f, 2.0f);
        p.fixed_planes = static_cast<std::uint8_t>(cases[i].fixed);
        p.dynamic_planes = static_cast<std::uint8_t>(cases[i].dynamic);
        ASSERT_EQ(tdf::draw_data(im.get(), p), 0);
        const int w = cases[i].want;
        const int want = w == W ? 1 : w == K ? 0 : w >= 200 ? pal.data[w - 200] : pal.planes[w - 101];
        EXPECT_EQ(pixel(im, 0, i), want) << "case " << i;
    }
}

TEST(DrawData, HighPlaneBitsInTheMasksPaintNothing)
{
    open_dataset ds(raw_infrared(
        1, 1, [](int, int) { return 2; }, [](int, int) { return 0x0F; }));
    ASSERT_EQ(ds.status(), 0);
    palette pal;
    auto im = make_image(1, 1, 3, pal);
    auto p = params_for(pal, 1, 1, ds.id(), 0.0f, 2.0f);
    p.fixed_planes = 0xF0;
    p.dynamic_planes = 0xF0;
    ASSERT_EQ(tdf::draw_data(im.get(), p), 0);
    EXPECT_EQ(pixel(im, 0, 0), pal.data[1]);
}

TEST(DrawData, GraphicsAreReadOnlyWhenAPlaneIsAsked)
{
    open_dataset ds(scan_times({0, 900})); // ancillary: no graphics variable
    ASSERT_EQ(ds.status(), 0);
    palette pal;
    auto im = make_image(1, 2, 10, pal);
    auto p = params_for(pal, 1, 2, ds.id(), 0.0f, 9.0f);
    p.graphics_variable = 1;
    ASSERT_EQ(tdf::draw_data(im.get(), p), 0) << "masks zero: the graphics are never read";
    EXPECT_EQ(pixel(im, 0, 1), pal.data[9]);

    p.dynamic_planes = 0x01;
    testing::internal::CaptureStderr();
    EXPECT_EQ(tdf::draw_data(im.get(), p), TD_EBADVARID);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "tdftogif: graphics: invalid variable id\n");
}

TEST(DrawData, ReadFailuresAreReportedAndReturned)
{
    open_dataset ds(raw_infrared(2, 3, [](int, int) { return 1; }));
    ASSERT_EQ(ds.status(), 0);
    palette pal;
    auto im = make_image(2, 3, 10, pal);

    auto p = params_for(pal, 2, 3, ds.id(), 0.0f, 9.0f);
    p.data_variable = 7;
    testing::internal::CaptureStderr();
    EXPECT_EQ(tdf::draw_data(im.get(), p), TD_EBADVARID);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "tdftogif: avhrr_ch4: invalid variable id\n");

    p = params_for(pal, 3, 3, ds.id(), 0.0f, 9.0f); // one row more than the dataset has
    testing::internal::CaptureStderr();
    EXPECT_EQ(tdf::draw_data(im.get(), p), TD_EINDEX);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "tdftogif: avhrr_ch4: variable index is out of range\n");
    EXPECT_EQ(pixel(im, 1, 2), pal.data[0]) << "rows before the failure are painted";

    p = params_for(pal, 2, 3, 99, 0.0f, 9.0f);
    testing::internal::CaptureStderr();
    EXPECT_EQ(tdf::draw_data(im.get(), p), TD_EBADID);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "tdftogif: avhrr_ch4: invalid dataset id\n");
}

TEST(DrawData, NoRowsOrColumnsPaintNothingAndReadNothing)
{
    palette pal;
    auto im = make_image(4, 4, 10, pal);
    for (const auto& [rows, columns] : std::vector<std::pair<int, int>>{{0, 4}, {4, 0}, {0, 0}}) {
        auto p = params_for(pal, rows, columns, /*no dataset*/ -1, 0.0f, 9.0f);
        p.fixed_planes = 0x01;
        EXPECT_EQ(tdf::draw_data(im.get(), p), 0);
    }
    for (int y = 0; y < gdImageSY(im.get()); ++y)
        for (int x = 0; x < gdImageSX(im.get()); ++x)
            ASSERT_EQ(gdImageGetPixel(im.get(), x, y), 0);
}

TEST(DrawData, PixelsOutsideTheImageOrClipAreIgnored)
{
    open_dataset ds(raw_infrared(6, 6, [](int r, int c) { return 1 + (r + c) % 10; }));
    ASSERT_EQ(ds.status(), 0);
    palette pal;
    // An image too small for the raster, and one clipped.
    image_ptr small(gdImageCreate(14, 13));
    gdImageColorAllocate(small.get(), 0, 0, 0);
    pal.data = {2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    pal.bad = 12;
    ASSERT_EQ(tdf::draw_data(small.get(), params_for(pal, 6, 6, ds.id(), 0.0f, 9.0f)), 0);
    for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 14; ++x)
            EXPECT_EQ(gdImageGetPixel(small.get(), x, y), (x >= 11 && y >= 11) ? 2 + (x - 11 + y - 11) : 0)
                << x << "," << y;

    image_ptr clipped(gdImageCreate(40, 40));
    gdImageSetClip(clipped.get(), 12, 13, 14, 15);
    ASSERT_EQ(tdf::draw_data(clipped.get(), params_for(pal, 6, 6, ds.id(), 0.0f, 9.0f)), 0);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            const bool inside = x >= 12 && x <= 14 && y >= 13 && y <= 15;
            EXPECT_EQ(gdImageGetPixel(clipped.get(), x, y), inside ? 2 + (x - 11 + y - 11) % 10 : 0)
                << x << "," << y;
        }
}

} // namespace
