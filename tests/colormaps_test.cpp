// Colour maps: contents, lookup and sampling into the data colours.
#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>
#include <vector>

#include "colormaps.h"

namespace {

using tdf::cmap;
using tdf::cmap_entry;
using tdf::find_cmap;
using entry = std::array<int, 3>;

const cmap& map(const char* name)
{
    const cmap* m = find_cmap(name);
    EXPECT_NE(m, nullptr) << name;
    static const cmap none{};
    return m != nullptr ? *m : none;
}

TEST(ColourMaps, LookupIsExactAndInTableOrder)
{
    for (const char* name :
         {"hsl256", "black-white", "prism", "hsl256_tek", "meridia", "viridis", "cividis"}) {
        const cmap* m = find_cmap(name);
        ASSERT_NE(m, nullptr) << name;
        EXPECT_EQ(m->name, name);
    }
    for (const char* miss : {"Prism", "HSL256", "black_white", "blackwhite", "hsl", "hsl256 ", "meridian", "",
                             "hsl256-tek", "Viridis", "civ"})
        EXPECT_EQ(find_cmap(miss), nullptr) << '"' << miss << '"';
    // A name that goes on past a terminator-free view is not a match either.
    EXPECT_EQ(find_cmap(std::string_view("prismx", 6)), nullptr);
    EXPECT_NE(find_cmap(std::string_view("prismx", 5)), nullptr);
}

TEST(ColourMaps, EveryChannelInRange)
{
    for (const char* name : {"hsl256", "black-white", "prism", "hsl256_tek", "meridia", "viridis", "cividis"})
        for (int k = 0; k < 256; ++k)
            for (int c = 0; c < 3; ++c)
                EXPECT_TRUE(map(name).rgb[k][c] >= 0 && map(name).rgb[k][c] <= 255) << name << " entry " << k;
}

TEST(ColourMaps, BlackWhiteIsAGreyRamp)
{
    for (int k = 0; k < 256; ++k)
        EXPECT_EQ(map("black-white").rgb[k], (entry{k, k, k}));
}

TEST(ColourMaps, PrismTriangles)
{
    const auto& rgb = map("prism").rgb;
    const struct {
        int k;
        entry want;
    } cases[] = {
        {0, {0, 0, 0}},      {1, {0, 0, 5}},      {62, {0, 0, 251}},  {63, {0, 0, 255}},  {64, {0, 0, 251}},
        {65, {0, 5, 247}},   {126, {0, 251, 11}}, {127, {0, 255, 7}}, {128, {5, 251, 3}}, {129, {9, 247, 0}},
        {187, {251, 15, 0}}, {188, {255, 11, 0}}, {189, {251, 7, 0}}, {190, {247, 3, 0}}, {191, {243, 0, 0}},
        {254, {3, 0, 0}},    {255, {0, 0, 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rgb[c.k], c.want) << "entry " << c.k;
}

// Key entries of the interpolated maps and, per channel, the direction of the
// run up to the next key: every value between two keys must lie between them
// and move only one way.
struct channel_keys {
    int channel;
    std::vector<std::pair<int, int>> keys; // entry, value
};

void expect_monotonic_runs(const char* name, const std::vector<channel_keys>& channels)
{
    const auto& rgb = map(name).rgb;
    for (const auto& ch : channels) {
        for (std::size_t i = 0; i < ch.keys.size(); ++i) {
            const auto [e0, v0] = ch.keys[i];
            EXPECT_EQ(rgb[e0][ch.channel], v0) << name << " channel " << ch.channel << " key " << e0;
            if (i + 1 == ch.keys.size())
                break;
            const auto [e1, v1] = ch.keys[i + 1];
            for (int e = e0; e < e1; ++e) {
                const int a = rgb[e][ch.channel];
                const int b = rgb[e + 1][ch.channel];
                if (v1 >= v0)
                    EXPECT_LE(a, b) << name << " channel " << ch.channel << " entry " << e;
                else
                    EXPECT_GE(a, b) << name << " channel " << ch.channel << " entry " << e;
            }
        }
    }
}

TEST(ColourMaps, Hsl256KeysAndRuns)
{
    expect_monotonic_runs(
        "hsl256",
        {{0, {{0, 128}, {51, 0}, {102, 128}, {127, 128}, {128, 130}, {153, 255}, {204, 255}, {255, 128}}},
         {1, {{0, 0}, {51, 128}, {102, 255}, {153, 255}, {204, 128}, {255, 0}}},
         {2, {{0, 127}, {51, 255}, {102, 255}, {127, 130}, {128, 128}, {153, 128}, {204, 0}, {255, 0}}}});
    const auto& rgb = map("hsl256").rgb;
    for (int k = 0; k <= 51; ++k)
        EXPECT_EQ(rgb[k][1], (5 * k + 1) / 2) << "green is 2.5 k rounded half up at " << k;
    for (int k = 102; k <= 127; ++k)
        EXPECT_EQ(rgb[k][2], 255 - 5 * (k - 102)) << k;
    for (int k = 128; k <= 153; ++k)
        EXPECT_EQ(rgb[k][0], 130 + 5 * (k - 128)) << k;
    // In the runs of 51 entries the moving channels step by 2 or 3.
    for (int first : {0, 51, 153, 204})
        for (int k = first; k < first + 51; ++k)
            for (int c = 0; c < 3; ++c) {
                const int step = std::abs(rgb[k + 1][c] - rgb[k][c]);
                EXPECT_TRUE(step == 0 || step == 2 || step == 3) << k << " channel " << c;
            }
}

TEST(ColourMaps, Hsl256TekKeysAndRuns)
{
    expect_monotonic_runs("hsl256_tek", {{0,
                                          {{0, 140},
                                           {36, 64},
                                           {37, 65},
                                           {73, 178},
                                           {109, 102},
                                           {110, 104},
                                           {145, 252},
                                           {146, 254},
                                           {182, 217},
                                           {218, 217},
                                           {219, 215},
                                           {255, 64}}},
                                         {1,
                                          {{0, 38},
                                           {36, 214},
                                           {37, 217},
                                           {73, 255},
                                           {145, 255},
                                           {146, 254},
                                           {182, 140},
                                           {218, 2},
                                           {219, 0},
                                           {255, 0}}},
                                         {2,
                                          {{0, 179},
                                           {36, 216},
                                           {37, 217},
                                           {72, 217},
                                           {73, 216},
                                           {109, 39},
                                           {110, 38},
                                           {145, 38},
                                           {146, 37},
                                           {182, 0},
                                           {255, 0}}}});
    const auto& rgb = map("hsl256_tek").rgb;
    for (int k = 182; k <= 218; ++k)
        EXPECT_EQ(rgb[k][0], 217) << k;
}

TEST(ColourMaps, MeridiaBands)
{
    const auto& rgb = map("meridia").rgb;
    const std::array<int, 16> levels{79,  87,  99,  114, 122, 138, 149, 157,
                                     177, 185, 196, 212, 220, 235, 247, 254};
    const std::array<int, 16> yellow_blue{80, 76, 71, 64, 60, 53, 48, 44, 35, 31, 26, 19, 15, 8, 3, 0};
    const std::array<int, 16> reds{254, 247, 237, 223, 217, 203, 193, 186,
                                   168, 161, 151, 137, 131, 117, 107, 99};
    const std::array<int, 16> greens{254, 247, 237, 223, 216, 203, 193, 186,
                                     168, 161, 151, 137, 130, 117, 107, 99};
    const std::array<int, 16> blues{254, 247, 237, 223, 216, 203, 193, 186,
                                    168, 161, 151, 137, 130, 117, 107, 100};
    for (int j = 0; j < 16; ++j) {
        EXPECT_EQ(rgb[j], (entry{0, 0, 0})) << j;
        EXPECT_EQ(rgb[16 + j], (entry{levels[j], levels[j], levels[j]})) << 16 + j;
        if (j < 15) {
            EXPECT_EQ(rgb[32 + j], (entry{levels[j], levels[j], yellow_blue[j]})) << 32 + j;
            EXPECT_EQ(rgb[48 + j], (entry{reds[j], 0, 0})) << 48 + j;
            EXPECT_EQ(rgb[64 + j], (entry{0, greens[j], 0})) << 64 + j;
            EXPECT_EQ(rgb[80 + j], (entry{0, 0, blues[j]})) << 80 + j;
        }
    }
    EXPECT_EQ(rgb[47], (entry{255, 254, 0}));
    EXPECT_EQ(rgb[63], (entry{99, 1, 0}));
    EXPECT_EQ(rgb[79], (entry{0, 99, 2}));
    EXPECT_EQ(rgb[95], (entry{1, 1, 100}));
    for (int k = 239; k < 256; ++k)
        EXPECT_EQ(rgb[k], (entry{0, 0, 0})) << k;
    for (int k = 96; k <= 127; ++k)
        EXPECT_EQ(rgb[k][1], rgb[k][2]) << "cyan-grey: green = blue at " << k;
    for (int k = 128; k <= 238; ++k) {
        EXPECT_TRUE(rgb[k][0] == rgb[k][1] && rgb[k][1] == rgb[k][2]) << "grey at " << k;
        if (k < 238) {
            const int step = rgb[k][0] - rgb[k + 1][0];
            EXPECT_TRUE(step >= 1 && step <= 4) << k;
        }
    }
    expect_monotonic_runs("meridia", {{0, {{96, 84}, {111, 125}, {112, 129}, {127, 171}}},
                                      {1, {{96, 84}, {111, 165}, {112, 174}, {127, 255}}},
                                      {0, {{128, 255}, {183, 129}, {238, 1}}}});
}

// Entries of the published tables as they are commonly quoted in hex
// (#440154, #21918c, #fde725; #00224e, #7c7b78, #fee838).  Every entry is
// compared with matplotlib's tables by perceptual_maps_check.py.
TEST(ColourMaps, PerceptualMapsAnchors)
{
    const struct {
        const char* name;
        int k;
        entry want;
    } cases[] = {
        {"viridis", 0, {68, 1, 84}}, {"viridis", 128, {33, 145, 140}},  {"viridis", 255, {253, 231, 37}},
        {"cividis", 0, {0, 34, 78}}, {"cividis", 127, {124, 123, 120}}, {"cividis", 255, {254, 232, 56}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(map(c.name).rgb[c.k], c.want) << c.name << " entry " << c.k;
}

TEST(ColourMaps, SamplingEntries)
{
    const struct {
        int n;
        std::vector<int> want;
    } cases[] = {
        {1, {0}},
        {2, {0, 255}},
        {3, {0, 128, 255}},
        {10, {0, 28, 57, 85, 113, 142, 170, 198, 227, 255}},
    };
    for (const auto& c : cases) {
        std::vector<int> got;
        for (int i = 0; i < c.n; ++i)
            got.push_back(cmap_entry(i, c.n));
        EXPECT_EQ(got, c.want) << "n = " << c.n;
    }
}

TEST(ColourMaps, SamplingWith245ColoursSkipsElevenEntries)
{
    std::multiset<int> used;
    for (int i = 0; i < 245; ++i)
        used.insert(cmap_entry(i, 245));
    EXPECT_EQ(cmap_entry(122, 245), 128);
    const std::set<int> unused{12, 35, 58, 81, 104, 127, 151, 174, 197, 220, 243};
    for (int k = 0; k < 256; ++k)
        EXPECT_EQ(used.count(k), unused.count(k) ? 0U : 1U) << "entry " << k;
}

TEST(ColourMaps, SamplingIsNearestWithHalvesUpForEveryCount)
{
    for (int n = 2; n <= 245; ++n)
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(cmap_entry(i, n), (2 * 255 * i + (n - 1)) / (2 * (n - 1))) << i << " of " << n;
}

TEST(ColourMaps, SamplingNeverLeavesTheMap)
{
    for (const auto& [i, n] : std::vector<std::pair<int, int>>{{-5, 10}, {20, 10}, {0, 0}, {3, -4}}) {
        const int k = cmap_entry(i, n);
        EXPECT_TRUE(k >= 0 && k <= 255) << i << " of " << n;
    }
}

} // namespace
