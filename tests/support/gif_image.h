// gif_image.h - decoding the GIF that tdftogif writes, and the palette a run
// must produce, for the tests that look at whole images.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gd.h>

#include "colormaps.h"

namespace tdtest {

struct image_deleter {
    void operator()(gdImagePtr image) const noexcept { gdImageDestroy(image); }
};
using image_ptr = std::unique_ptr<gdImage, image_deleter>;

inline image_ptr decode(const std::string& gif)
{
    return image_ptr(gdImageCreateFromGifPtr(static_cast<int>(gif.size()), const_cast<char*>(gif.data())));
}

struct colour {
    int r, g, b;
    bool operator==(const colour&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const colour& c)
{
    return os << "(" << c.r << "," << c.g << "," << c.b << ")";
}

// Number of pixels that differ between two images of the same size.
inline int differences(gdImagePtr a, gdImagePtr b)
{
    int n = 0;
    for (int y = 0; y < gdImageSY(a); ++y)
        for (int x = 0; x < gdImageSX(a); ++x)
            n += gdImageGetPixel(a, x, y) != gdImageGetPixel(b, x, y);
    return n;
}

inline colour entry(gdImagePtr image, int index)
{
    return {gdImageRed(image, index), gdImageGreen(image, index), gdImageBlue(image, index)};
}

// The palette a run must produce: background, foreground, n map samples, bad
// colour, planes 1 to 8 (planes not given a colour are black).
inline std::vector<colour> expected_palette(const char* map_name, int n, bool invert, colour bad,
                                            std::vector<colour> planes = {})
{
    const tdf::cmap* map = tdf::find_cmap(map_name);
    EXPECT_NE(map, nullptr) << map_name;
    std::vector<colour> p;
    const int back = invert ? 255 : 0;
    p.push_back({back, back, back});
    p.push_back({255 - back, 255 - back, 255 - back});
    for (int i = 0; i < n && map; ++i) {
        const auto& e = map->rgb[static_cast<std::size_t>(tdf::cmap_entry(i, n))];
        p.push_back({e[0], e[1], e[2]});
    }
    p.push_back(bad);
    planes.resize(8, colour{0, 0, 0});
    p.insert(p.end(), planes.begin(), planes.end());
    return p;
}

inline void expect_palette(gdImagePtr image, const std::vector<colour>& expected)
{
    // The decoder trims entries no pixel uses from its colour count, but
    // keeps their values, so every entry is compared by value.
    ASSERT_LE(expected.size(), static_cast<std::size_t>(gdMaxColors));
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(entry(image, static_cast<int>(i)), expected[i]) << "palette index " << i;
}

} // namespace tdtest
