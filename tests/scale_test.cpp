// Colour scale: tick records, frames, tick marks and labels, units label and
// colour bar, drawn on real gd palette images.
#include <gtest/gtest.h>

#include <gd.h>
#include <gdfontg.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "gif_image.h"
#include "scale.h"

namespace {

using tdf::tic;

using tdtest::image_ptr;

// A palette image with background 0 and foreground 1, as the driver makes it.
image_ptr make_image(int width, int height)
{
    image_ptr im(gdImageCreate(width, height));
    gdImageColorAllocate(im.get(), 0, 0, 0);
    gdImageColorAllocate(im.get(), 255, 255, 255);
    return im;
}

// The image the driver makes for rows x columns and a widest label of L.
image_ptr make_scale_image(int rows, int columns, int widest)
{
    return make_image(columns + 89 + 9 * widest, rows + 22);
}

using tdtest::differences;

struct box {
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
    bool empty() const { return x1 < 0; }
};

// Extent of the pixels of colour c.
box extent(gdImagePtr im, int c)
{
    box b;
    for (int y = 0; y < gdImageSY(im); ++y)
        for (int x = 0; x < gdImageSX(im); ++x)
            if (gdImageGetPixel(im, x, y) == c) {
                b.x0 = std::min(b.x0, x);
                b.y0 = std::min(b.y0, y);
                b.x1 = std::max(b.x1, x);
                b.y1 = std::max(b.y1, y);
            }
    return b;
}

std::vector<std::string> texts(const std::vector<tic>& tics)
{
    std::vector<std::string> out;
    for (const tic& t : tics)
        out.push_back(t.text);
    return out;
}

TEST(MakeTics, CountsLabelsAndPositions)
{
    const struct {
        float min, max, ticint;
        int count;
        const char* first;
        const char* last;
    } cases[] = {
        {4, 30, 2, 14, " 4.0", "30.0"},
        {0, 255, 16, 17, " 0.0", "256.0"},
        {0, 20, 2, 11, " 0.0", "20.0"},
        {0, 90, 5, 19, " 0.0", "90.0"},
        {0, 24, 2, 13, " 0.0", "24.0"},
        {0, 10, 25, 1, " 0.0", " 0.0"}, // range / interval 0.4: one tick at min
        {0, 10, 20, 2, " 0.0", "20.0"}, // 0.5: a second tick beyond max
        {-40, 40, 20, 5, "-40.0", "40.0"},
        // An interval beyond the float range: the one tick is min itself.
        {4, 30, INFINITY, 1, " 4.0", " 4.0"},
        {-0.0f, 10, INFINITY, 1, " 0.0", " 0.0"},
        {-0.0f, 10, 60, 1, " 0.0", " 0.0"},
        {4, 30, 0.002f, 13001, " 4.0", "30.0"},
        {0, 999999, 1, tdf::max_tics, " 0.0", "999999.0"}, // the most ticks a scale is drawn with
    };
    for (const auto& c : cases) {
        std::vector<tic> tics;
        EXPECT_EQ(tdf::make_tics(tics, c.min, c.max, c.ticint, "%4.1f"), c.count) << c.min << " " << c.max;
        ASSERT_EQ(tics.size(), static_cast<std::size_t>(c.count));
        EXPECT_EQ(tics.front().text, c.first);
        EXPECT_EQ(tics.back().text, c.last);
        for (const tic& t : tics)
            EXPECT_EQ(t.len, static_cast<int>(t.text.size()));
        EXPECT_EQ(tics.front().pos, 0.0f);
    }
}

TEST(MakeTics, InfraredDefaults)
{
    std::vector<tic> tics;
    ASSERT_EQ(tdf::make_tics(tics, 4, 30, 2, "%4.1f"), 14);
    const std::vector<std::string> want{" 4.0", " 6.0", " 8.0", "10.0", "12.0", "14.0", "16.0",
                                        "18.0", "20.0", "22.0", "24.0", "26.0", "28.0", "30.0"};
    EXPECT_EQ(texts(tics), want);
    for (int i = 0; i < 14; ++i) {
        EXPECT_EQ(tics[i].len, 4);
        EXPECT_EQ(tics[i].pos, static_cast<float>(2 * i) / 26.0f) << i;
    }
    EXPECT_EQ(tics.back().pos, 1.0f);
}

TEST(MakeTics, LastTickBeyondMax)
{
    std::vector<tic> tics;
    ASSERT_EQ(tdf::make_tics(tics, 0, 255, 16, "%4.1f"), 17);
    EXPECT_EQ(tics.back().len, 5);
    EXPECT_EQ(tics.back().pos, 256.0f / 255.0f);
}

TEST(MakeTics, OtherFormats)
{
    std::vector<tic> tics;
    ASSERT_EQ(tdf::make_tics(tics, 0, 1, 0.25f, "%5.2f"), 5);
    EXPECT_EQ(texts(tics), (std::vector<std::string>{" 0.00", " 0.25", " 0.50", " 0.75", " 1.00"}));
    ASSERT_EQ(tdf::make_tics(tics, 0, 20, 10, "%3.0f"), 3);
    EXPECT_EQ(texts(tics), (std::vector<std::string>{"  0", " 10", " 20"}));
}

TEST(MakeTics, Refusals)
{
    const struct {
        float min, max, ticint;
        const char* format;
        int result;
    } cases[] = {
        {10, 0, 20, "%4.1f", 0},              // quotient -0.5: no tick
        {10, 0, 1, "%4.1f", 0},               // a negative count is no tick either
        {-3e38f, 3e38f, 1e-30f, "%4.1f", -1}, // beyond int
        {0, 10, 0, "%4.1f", -1},              // no interval at all
        {0, 0, 0, "%4.1f", -1},               // 0 / 0
        {1e30f, 2e30f, 1e30f, "%4.1f", -2},   // 33-character labels
        {0, 1, 1, "%34.31f", -2},
    };
    for (const auto& c : cases) {
        std::vector<tic> tics{tic{1, "x", 0.0f}};
        EXPECT_EQ(tdf::make_tics(tics, c.min, c.max, c.ticint, c.format), c.result)
            << c.min << " " << c.max << " " << c.ticint << " " << c.format;
        EXPECT_TRUE(tics.empty());
    }
    std::vector<tic> tics;
    EXPECT_EQ(tdf::make_tics(tics, 0, 1, 1, "%31.28f"), 2) << "31 characters still fit";
    EXPECT_EQ(tics.back().len, 31);
}

// More ticks than a scale is drawn with: the count, and only the first and
// the last tick, which carry the widest labels.
TEST(MakeTics, TooDenseToDraw)
{
    const struct {
        float min, max, ticint;
        int result;
        const char* first;
        const char* last;
    } cases[] = {
        {0, 1000000, 1, 1000001, " 0.0", "1000000.0"},
        {-2e6f, 2.5f, 1, 2000004, "-2000000.0", " 3.0"}, // rounded up past max
        {0, 1e9f, 1, 1000000001, " 0.0", "1000000000.0"},
        {0, 1e30f, 1e21f, -2, "", ""}, // the last label would be too long
    };
    for (const auto& c : cases) {
        std::vector<tic> tics;
        EXPECT_EQ(tdf::make_tics(tics, c.min, c.max, c.ticint, "%4.1f"), c.result) << c.min << " " << c.max;
        if (c.result < 1) {
            EXPECT_TRUE(tics.empty());
            continue;
        }
        ASSERT_EQ(tics.size(), 2u);
        EXPECT_EQ(tics.front().text, c.first);
        EXPECT_EQ(tics.back().text, c.last);
        EXPECT_EQ(tics.back().len, static_cast<int>(tics.back().text.size()));
    }
}

TEST(DrawFrames, TwoRectangles)
{
    const int rows = 20, columns = 30;
    auto im = make_scale_image(rows, columns, 4);
    tdf::draw_frames(im.get(), 1, rows, columns);
    auto want = make_scale_image(rows, columns, 4);
    for (int x = 5; x <= columns + 16; ++x)
        for (int y : {5, rows + 16})
            gdImageSetPixel(want.get(), x, y, 1);
    for (int y = 5; y <= rows + 16; ++y)
        for (int x : {5, columns + 16})
            gdImageSetPixel(want.get(), x, y, 1);
    for (int x = columns + 22; x <= columns + 53; ++x)
        for (int y : {5, rows + 16})
            gdImageSetPixel(want.get(), x, y, 1);
    for (int y = 5; y <= rows + 16; ++y)
        for (int x : {columns + 22, columns + 53})
            gdImageSetPixel(want.get(), x, y, 1);
    EXPECT_EQ(differences(im.get(), want.get()), 0);
}

TEST(DrawTics, MarksAndLabelsAtTheirHeights)
{
    const int rows = 21, columns = 30;
    std::vector<tic> tics;
    ASSERT_EQ(tdf::make_tics(tics, 0, 20, 10, "%4.1f"), 3);
    auto im = make_scale_image(rows, columns, 4);
    tdf::draw_tics(im.get(), gdFontGiant, tics, 1, rows, columns);

    // pos 0 on the bottom raster row (rows + 10), pos 1 on the top one (11).
    auto want = make_scale_image(rows, columns, 4);
    const struct {
        int y;
        const char* text;
    } marks[] = {{31, " 0.0"}, {21, "10.0"}, {11, "20.0"}};
    for (const auto& m : marks) {
        for (int x = 84; x <= 89; ++x)
            gdImageSetPixel(want.get(), x, m.y, 1);
        std::string text = m.text;
        gdImageString(want.get(), gdFontGiant, 94, m.y - 7, reinterpret_cast<unsigned char*>(text.data()), 1);
    }
    EXPECT_EQ(differences(im.get(), want.get()), 0);

    // Each label lies in its cell of 9 x 15 pixels per character.
    auto single = make_scale_image(rows, columns, 4);
    tdf::draw_tics(single.get(), gdFontGiant, {tics[2]}, 1, rows, columns);
    const box b = extent(single.get(), 1);
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(b.x0, columns + 54);
    EXPECT_LE(b.x1, columns + 64 + 4 * 9 - 1);
    EXPECT_GE(b.y0, 11 - 7);
    EXPECT_LE(b.y1, 11 - 7 + 14);
}

TEST(DrawTics, OneRowPutsEveryTickOnTheTopRow)
{
    std::vector<tic> tics;
    ASSERT_EQ(tdf::make_tics(tics, 0, 20, 10, "%4.1f"), 3);
    for (tic& t : tics)
        t.text.clear();
    auto im = make_scale_image(1, 8, 4);
    tdf::draw_tics(im.get(), gdFontGiant, tics, 1, 1, 8);
    const box b = extent(im.get(), 1);
    EXPECT_EQ(b.y0, 11);
    EXPECT_EQ(b.y1, 11);
    EXPECT_EQ(b.x0, 8 + 54);
    EXPECT_EQ(b.x1, 8 + 59);
}

TEST(DrawTics, UnplaceableTicksAreSkipped)
{
    const std::vector<tic> tics{
        {1, "x", std::nanf("")}, {1, "y", 1e30f}, {1, "z", -1e30f}, {0, "", INFINITY}};
    auto im = make_scale_image(10, 10, 1);
    tdf::draw_tics(im.get(), gdFontGiant, tics, 1, 10, 10);
    EXPECT_TRUE(extent(im.get(), 1).empty());
    tdf::draw_tics(im.get(), gdFontGiant, {}, 1, 10, 10);
    EXPECT_TRUE(extent(im.get(), 1).empty());
}

TEST(DrawUnits, LabelsAndPlacement)
{
    // The library's label in UTF-8; the drawn one in the font's encoding.
    const struct {
        const char* label;
        bool fahrenheit;
        std::string drawn;
    } cases[] = {
        {"brightness temperature (\u00b0C)", false,
         "brightness temperature (\xb0"
         "C)"},
        {"brightness temperature (\u00b0C)", true,
         "brightness temperature (\xb0"
         "F)"},
        {"temperature (\u00b0C)", false,
         "temperature (\xb0"
         "C)"},
        {"temperature (\u00b0C)", true,
         "temperature (\xb0"
         "F)"},
        {"albedo (%)", true, "albedo (%)"},
        {"hours", false, "hours"},
        {"degrees", true, "degrees"},
        {"byte value", false, "byte value"},
    };
    const int rows = 300, columns = 40;
    for (const auto& c : cases) {
        auto im = make_scale_image(rows, columns, 4);
        tdf::draw_units(im.get(), gdFontGiant, 1, c.label, c.fahrenheit);
        const int sx = gdImageSX(im.get()), sy = gdImageSY(im.get());
        const int len = static_cast<int>(c.drawn.size());
        const int x = sx - 21;
        const int y = sy / 2 + (len * 9) / 2;
        auto want = make_scale_image(rows, columns, 4);
        std::string label = c.drawn;
        gdImageStringUp(want.get(), gdFontGiant, x, y, reinterpret_cast<unsigned char*>(label.data()), 1);
        EXPECT_EQ(differences(im.get(), want.get()), 0) << c.drawn;

        // Upward text 15 pixels wide at the right edge, 6 pixels from it,
        // centred on the image's height.
        const box b = extent(im.get(), 1);
        ASSERT_FALSE(b.empty());
        EXPECT_GE(b.x0, sx - 21);
        EXPECT_LE(b.x1, sx - 7);
        EXPECT_LE(b.y1, y);
        EXPECT_GT(b.y0, y - len * 9);
        EXPECT_LE(std::abs((b.y0 + b.y1) / 2 - sy / 2), 9) << c.drawn;
    }
}

TEST(DrawUnits, NoLabelDrawsNothing)
{
    auto im = make_scale_image(50, 20, 4);
    tdf::draw_units(im.get(), gdFontGiant, 1, "", false);
    tdf::draw_units(im.get(), gdFontGiant, 1, nullptr, false);
    EXPECT_TRUE(extent(im.get(), 1).empty());
}

TEST(DrawColorbar, RowsSpreadTheColoursEvenly)
{
    const struct {
        int rows, colours;
        std::vector<int> want; // data colour of each bar line from the bottom
    } cases[] = {
        {1, 245, {0}},        {3, 3, {0, 1, 2}},  {5, 3, {0, 1, 1, 2, 2}}, // halves go up
        {4, 1, {0, 0, 0, 0}}, {2, 245, {0, 244}},
    };
    for (const auto& c : cases) {
        const int columns = 12;
        auto im = make_scale_image(c.rows, columns, 4);
        std::vector<int> colours;
        for (int i = 0; i < c.colours; ++i)
            colours.push_back(2 + i);
        tdf::draw_colorbar(im.get(), colours.data(), c.colours, c.rows, columns);
        const int sy = gdImageSY(im.get());
        for (int i = 0; i < c.rows; ++i) {
            const int y = sy - 12 - i;
            for (int x = columns + 28; x <= columns + 47; ++x)
                ASSERT_EQ(gdImageGetPixel(im.get(), x, y), 2 + c.want[i]) << "row " << i << " x " << x;
            EXPECT_EQ(gdImageGetPixel(im.get(), columns + 27, y), 0);
            EXPECT_EQ(gdImageGetPixel(im.get(), columns + 48, y), 0);
        }
        EXPECT_EQ(gdImageGetPixel(im.get(), columns + 30, sy - 12 + 1), 0);
        EXPECT_EQ(gdImageGetPixel(im.get(), columns + 30, sy - 12 - c.rows), 0);
    }
}

TEST(DrawColorbar, FullScale)
{
    const int rows = 512, columns = 16;
    auto im = make_scale_image(rows, columns, 4);
    std::vector<int> colours;
    for (int i = 0; i < 245; ++i)
        colours.push_back(i + 2);
    tdf::draw_colorbar(im.get(), colours.data(), 245, rows, columns);
    EXPECT_EQ(gdImageGetPixel(im.get(), columns + 28, rows + 10), 2);
    EXPECT_EQ(gdImageGetPixel(im.get(), columns + 47, 11), 246);
    for (int y = 12; y <= rows + 10; ++y)
        EXPECT_LE(gdImageGetPixel(im.get(), columns + 28, y), gdImageGetPixel(im.get(), columns + 28, y - 1));
}

} // namespace
