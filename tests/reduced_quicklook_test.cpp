// reduced_quicklook_test.cpp - --reduce and --fit through the real
// executable: each pixel against a direct computation of its block, the
// layout of a dataset of the reduced size, and a tall dataset whose
// reduced conversion stays small in memory and decodes elsewhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <gd.h>
#include <gif_lib.h>

#include "dataset_writer.h"
#include "gif_image.h"
#include "run_command.h"

namespace {

using tdtest::decode;
using tdtest::image_ptr;

int rounded_up(int length, int n)
{
    return (length + n - 1) / n;
}

// Rounds halves away from zero, as every colour index is rounded.
int half_away(float x)
{
    return static_cast<int>(x > 0 ? std::floor(double{x} + 0.5) : std::ceil(double{x} - 0.5));
}

class ReducedQuicklook : public testing::Test {
protected:
    tdtest::TempDir dir;

    image_ptr convert(const std::string& dataset, std::vector<std::string> args)
    {
        const std::string out = dir.file("out.gif");
        args.insert(args.end(), {"-o", out, dataset});
        const auto r = tdtest::run_command(tdtest::tdftogif_path(), args);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        return decode(tdtest::read_file(out));
    }
};

// Raw counts 0 to 239 (stored as count + 1; 0 is a missing sample), a
// scattering of missing samples and a missing patch that holds whole blocks
// for every N; plane 1 a one-sample diagonal line, plane 2 a one-sample
// cross, plane 3 set but never asked for.  With min 10, max 244 and 235
// colours a value v takes data colour round(v - 10).
TEST_F(ReducedQuicklook, EachPixelIsTheMeanAndThePlanesOfItsBlock)
{
    constexpr int rows = 17, columns = 139, n = 235;
    const auto count = [](int r, int c) {
        const bool missing = (r * 5 + c * 3) % 11 == 0 || (r >= 7 && r <= 13 && c <= 13);
        const bool cold = r <= 6 && c >= 100; // below min, block means too
        return missing ? -1 : cold ? (r + c) % 8 : (r * 31 + c * 17) % 240;
    };
    const auto nibble = [](int r, int c) {
        return (c == (r * 8) % columns ? 1 : 0) | (c == 50 || r == 5 ? 2 : 0) | (c % 9 == 0 ? 4 : 0);
    };
    tdw::DatasetDescription desc;
    desc.data_id = tdw::kInfrared;
    desc.rows = rows;
    desc.columns = columns;
    desc.fields["calibration_type"] = 0;
    desc.value = [&](int r, int c) { return count(r, c) + 1; };
    desc.nibble = nibble;
    const std::string dataset = dir.file("small.tdf");
    tdw::write_dataset(dataset, desc);

    const int plane1 = n + 3, under_entry = n + 10, bad = n + 2;
    const struct {
        std::vector<std::string> args;
        int factor;
        int under; // palette index of values below min
    } cases[] = {
        {{"--reduce", "2"}, 2, bad},
        {{"--reduce=3", "--under", "0,0,255"}, 3, under_entry},
        {{"--reduce", "7", "--under", "lowest"}, 7, 2},
        {{"--reduce", "4", "--under", "lowest"}, 4, 2}, // cold blocks without the cross of plane 2
        {{"--fit", "47"}, 3, bad},                      // 139 / 47 rounded up
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("N " + std::to_string(c.factor) + " " + c.args.front());
        std::vector<std::string> args{"-l", "10",      "-h", "244", "-c", std::to_string(n),
                                      "-1", "255,0,0", "-2", "dyn"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const image_ptr image = convert(dataset, args);
        ASSERT_TRUE(image);
        const int shown_rows = rounded_up(rows, c.factor), shown_columns = rounded_up(columns, c.factor);
        EXPECT_EQ(gdImageSX(image.get()), shown_columns + 89 + 9 * 5); // labels "244.0"
        EXPECT_EQ(gdImageSY(image.get()), shown_rows + 22);
        if (c.under == under_entry) {
            EXPECT_EQ(tdtest::entry(image.get(), under_entry), (tdtest::colour{0, 0, 255}));
        }

        int below = 0, missing = 0;
        for (int br = 0; br < shown_rows; ++br) {
            for (int bc = 0; bc < shown_columns; ++bc) {
                double sum = 0;
                int valid = 0, bits = 0;
                for (int r = br * c.factor; r < std::min(rows, (br + 1) * c.factor); ++r)
                    for (int col = bc * c.factor; col < std::min(columns, (bc + 1) * c.factor); ++col) {
                        bits |= nibble(r, col);
                        if (count(r, col) >= 0) {
                            sum += count(r, col);
                            ++valid;
                        }
                    }
                int want = bad;
                if (valid > 0) {
                    const float mean = static_cast<float>(sum / valid);
                    const int k = half_away(static_cast<float>(double{mean} - 10.0));
                    want = k < 0 ? c.under : 2 + std::min(k, n - 1);
                    below += k < 0;
                } else {
                    ++missing;
                }
                if (bits & 1)
                    want = plane1;
                if (bits & 2) { // dynamic: black over light, white over dark
                    const tdtest::colour under = tdtest::entry(image.get(), want);
                    want = 0.299 * under.r + 0.587 * under.g + 0.114 * under.b < 127 ? 1 : 0;
                }
                ASSERT_EQ(gdImageGetPixel(image.get(), 11 + bc, 11 + br), want)
                    << "block " << br << "," << bc;
            }
        }
        EXPECT_GT(below, 0);
        EXPECT_GT(missing, 0);
    }
}

// Blocks of one value (with missing samples among them, and wholly missing
// blocks) reduced 3 times make the image of a dataset of the reduced size
// that holds those values and the OR of the planes: frames, colour bar,
// ticks, units label and time stamp included.
TEST_F(ReducedQuicklook, LayoutIsThatOfADatasetOfTheReducedSize)
{
    constexpr int rows = 40, columns = 210, n = 3;
    const auto block_value = [](int br, int bc) {
        return (br * 7 + bc * 13) % 5 == 0 ? 0 : 900 + br * 20 + bc * 3;
    };
    const auto missing = [](int r, int c) { return (r + 2 * c) % 4 == 0; };
    const auto nibble = [](int r, int c) { return (r * 3 + c) % 29 == 0 ? 1 : (r == 20 ? 2 : 0); };
    tdw::DatasetDescription big;
    big.data_id = tdw::kInfrared;
    big.rows = rows;
    big.columns = columns;
    big.value = [&](int r, int c) { return missing(r, c) ? 0 : block_value(r / n, c / n); };
    big.nibble = nibble;
    tdw::DatasetDescription small = big;
    small.rows = rounded_up(rows, n);
    small.columns = columns / n;
    small.value = block_value;
    small.nibble = [&](int br, int bc) {
        int bits = 0;
        for (int r = br * n; r < std::min(rows, br * n + n); ++r)
            for (int c = bc * n; c < bc * n + n; ++c)
                bits |= nibble(r, c);
        return bits;
    };
    const std::string big_path = dir.file("big.tdf"), small_path = dir.file("small.tdf");
    tdw::write_dataset(big_path, big);
    tdw::write_dataset(small_path, small);
    const std::vector<std::string> options{"-s", "-u", "-1", "255,255,0", "-2", "dyn"};
    std::vector<std::string> reduced = options;
    reduced.insert(reduced.end(), {"--reduce", "3"});
    const image_ptr a = convert(big_path, reduced);
    const image_ptr b = convert(small_path, options);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(gdImageSX(a.get()), gdImageSX(b.get()));
    ASSERT_EQ(gdImageSY(a.get()), gdImageSY(b.get()));
    EXPECT_EQ(tdtest::differences(a.get(), b.get()), 0);
}

// 32767 rows fitted into 512 pixels: the conversion holds a few rows, not
// the 71 MB image of the whole dataset, and its GIF decodes in giflib and
// in Pillow with the reduced size.
TEST_F(ReducedQuicklook, TallDatasetsFitInLittleMemoryAndDecodeElsewhere)
{
    constexpr int rows = 32767, columns = 2048;
    tdw::DatasetDescription desc;
    desc.data_id = tdw::kInfrared;
    desc.rows = rows;
    desc.columns = columns;
    desc.compressed = true;
    desc.value = [](int r, int c) { return 1000 + (r / 97 + c / 61) % 300; };
    desc.nibble = [](int r, int c) { return c == r % columns ? 1 : 0; };
    const std::string dataset = dir.file("tall.tdf"), out = dir.file("tall.gif");
    // Written by a child: a process started later inherits this one's peak
    // resident size, which must stay small.
    std::fflush(nullptr);
    const pid_t writer = fork();
    if (writer == 0) {
        try {
            tdw::write_dataset(dataset, desc);
            _exit(0);
        } catch (...) {
            _exit(1);
        }
    }
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const auto r =
        tdtest::run_command(tdtest::tdftogif_path(), {"--fit", "512", "-1", "255,0,0", "-o", out, dataset});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    RecordProperty("peak_kib", std::to_string(r.peak_kib));
#ifndef TDF_SANITIZED // the sanitizers' shadow memory and quarantine are not the converter's
    EXPECT_LT(r.peak_kib, 64 * 1024);
#endif

    // Factor 64: 512 x 32 pixels of raster, the infrared scale " 4.0" to "30.0".
    const int width = 32 + 89 + 9 * 4, height = 512 + 22;
    int error = 0;
    GifFileType* gif = DGifOpenFileName(out.c_str(), &error);
    ASSERT_NE(gif, nullptr) << GifErrorString(error);
    EXPECT_EQ(DGifSlurp(gif), GIF_OK);
    EXPECT_EQ(gif->SWidth, width);
    EXPECT_EQ(gif->SHeight, height);
    EXPECT_EQ(gif->ImageCount, 1);
    DGifCloseFile(gif, &error);

    const auto pillow = tdtest::run_command(
        TDF_PYTHON, {"-c",
                     "import sys; from PIL import Image; im = Image.open(sys.argv[1]); im.load(); "
                     "print(im.format, im.mode, *im.size)",
                     out});
    EXPECT_EQ(pillow.exit_code, 0) << pillow.err;
    EXPECT_EQ(pillow.out, "GIF P " + std::to_string(width) + " " + std::to_string(height) + "\n");
}

// --reduce 1, a --fit the dataset already meets and no option at all give
// the same bytes.
TEST_F(ReducedQuicklook, FactorOneIsTheFullImage)
{
    tdw::DatasetDescription desc;
    desc.data_id = tdw::kInfrared;
    desc.rows = 30;
    desc.columns = 140;
    desc.value = [](int r, int c) { return (r * 37 + c * 11) % 2000; };
    desc.nibble = [](int r, int c) { return (r + c) % 16; };
    const std::string dataset = dir.file("d.tdf");
    tdw::write_dataset(dataset, desc);
    std::vector<std::string> gifs;
    for (const std::vector<std::string>& extra : {std::vector<std::string>{},
                                                  {"--reduce", "1"},
                                                  {"--fit", "140"},
                                                  {"--reduce", "5", "--fit", "9999"}}) {
        std::vector<std::string> args{"-1", "dyn", "-2", "9,9,9", "-s", "-u"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(dataset);
        const auto r = tdtest::run_command(tdtest::tdftogif_path(), args);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        gifs.push_back(r.out);
    }
    for (const std::string& g : gifs)
        EXPECT_TRUE(g == gifs.front());
}

} // namespace
