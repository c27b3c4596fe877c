// hostile_inputs_test.cpp - the converter against hostile datasets and
// hostile option values: each ends with its failure line and status or
// with a sound image, never with a crash, a wrapped count or an allocation
// out of proportion to what can be drawn.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gd.h>

#include "dataset_writer.h"
#include "driver.h"
#include "gif_image.h"
#include "command_line.h"
#include "run_command.h"

#if defined(__SANITIZE_ADDRESS__)
#define TDF_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TDF_UNDER_ASAN 1
#endif
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;

// Rows of 140 bytes hold the 136 header bytes in row slot 0.
constexpr int C = 70;

using tdtest::image_ptr;

struct run_result {
    int status = 0;
    std::string err;
    image_ptr image; // the GIF written, decoded (none after a failure)
};

class Hostile : public testing::Test {
protected:
    tdtest::TempDir dir;
    int files = 0;

    std::string write(const Bytes& bytes)
    {
        const std::string path = dir.file("d" + std::to_string(files++) + ".tdf");
        tdw::write_bytes(path, bytes);
        return path;
    }

    std::string write(const tdw::DatasetDescription& desc) { return write(tdw::build_dataset(desc)); }

    // Runs the conversion in this process as main does, with -o into the
    // scratch directory, and decodes the image it wrote.
    run_result convert(std::vector<std::string> args)
    {
        const std::string out = dir.file("out" + std::to_string(files++) + ".gif");
        args.insert(args.begin(), {"tdftogif", "-o", out});
        std::vector<const char*> argv;
        for (const auto& a : args)
            argv.push_back(a.c_str());
        tdf::cmd_options options;
        testing::internal::CaptureStderr();
        const tdf::parse_result parsed =
            tdf::parse_options(static_cast<int>(argv.size()), argv.data(), options);
        run_result r;
        r.status = parsed.ok ? tdf::convert(options) : parsed.status;
        r.err = testing::internal::GetCapturedStderr();
        const std::string gif = tdtest::read_file(out);
        if (r.status == 0 && !gif.empty())
            r.image.reset(
                gdImageCreateFromGifPtr(static_cast<int>(gif.size()), const_cast<char*>(gif.data())));
        return r;
    }
};

tdw::DatasetDescription infrared(int rows, int columns)
{
    tdw::DatasetDescription desc;
    desc.data_id = tdw::kInfrared;
    desc.rows = static_cast<std::int16_t>(rows);
    desc.columns = static_cast<std::int16_t>(columns);
    desc.value = [](int r, int c) { return 1000 + r * 10 + c; };
    desc.nibble = [](int r, int c) { return (r + c) % 16; };
    return desc;
}

tdw::DatasetDescription with(tdw::DatasetDescription desc, const char* field, std::int16_t value)
{
    desc.fields[field] = value;
    return desc;
}

// A compressed infrared dataset of `rows` x C whose stream is replaced by
// `stream` after the 1024-byte header block.
Bytes compressed_with_stream(int rows, const Bytes& stream)
{
    tdw::DatasetDescription desc = infrared(rows, C);
    desc.compressed = true;
    Bytes bytes = tdw::build_dataset(desc);
    bytes.resize(1024);
    bytes.insert(bytes.end(), stream.begin(), stream.end());
    return bytes;
}

struct failure_case {
    const char* what;
    std::vector<std::string> args; // the dataset path is appended
    int dataset;                   // index into the datasets of the test
    int status;
    std::string err;
};

// Hostile header values and hostile streams: the status the process ends
// with and its one failure line.
TEST_F(Hostile, DatasetsFailWithTheirLineAndStatus)
{
    tdw::DatasetDescription compressed = infrared(4, C);
    compressed.compressed = true;
    const Bytes good = tdw::build_dataset(compressed);

    Bytes truncated(good.begin(), good.begin() + 1024 + 30);
    Bytes no_graphics(good.begin(), good.end() - 1);
    // A header that claims many more rows than the stream holds.  The
    // decoder reads on into the graphics pairs, here (0, 69) in every row,
    // whose bytes are delta codes of 0 and -5, until the stream ends.
    tdw::DatasetDescription even = infrared(4, C);
    even.compressed = true;
    even.nibble = {};
    even.fields["rows"] = 3000;
    const Bytes short_for_rows = tdw::build_dataset(even);
    // 2047, then a delta of +1 that would leave the 11-bit range.
    Bytes delta_overflow = good;
    delta_overflow[1024] = 0x87;
    delta_overflow[1025] = 0xFF;
    delta_overflow[1026] = 0x01;
    Bytes delta_first = good;
    delta_first[1024] = 0x3F;

    const std::vector<std::string> datasets = {
        write(with(infrared(4, C), "rows", -2)),                      // 0
        write(with(infrared(4, C), "rows", -32768)),                  // 1
        write(with(infrared(4, C), "columns", -2)),                   // 2
        write(with(with(infrared(4, C), "columns", -7), "rows", -5)), // 3
        write(truncated),                                             // 4
        write(no_graphics),                                           // 5
        write(short_for_rows),                                        // 6
        write(delta_overflow),                                        // 7
        write(delta_first),                                           // 8
        write(Bytes(good.begin(), good.begin() + 700)),               // 9: header block cut
        write(with(infrared(4, C), "rows", 300)),                     // 10: plain, rows missing
        // 8 rows shifted by 2 and -2 of which the file holds rows 0 to 3.
        write(tdw::build_truncated(with(infrared(8, C), "vertical_shift", 2), 5 * 2 * C)),  // 11
        write(tdw::build_truncated(with(infrared(8, C), "vertical_shift", -2), 5 * 2 * C)), // 12
    };
    const std::vector<failure_case> cases = {
        {"rows -2", {}, 0, 10, "tdftogif: rows: invalid dimension\n"},
        {"rows -32768", {}, 1, 10, "tdftogif: rows: invalid dimension\n"},
        {"columns -2", {}, 2, 10, "tdftogif: columns: invalid dimension\n"},
        {"rows asked first", {}, 3, 10, "tdftogif: rows: invalid dimension\n"},
        {"stream cut in the data", {}, 4, 32, "tdftogif: avhrr_ch4: error reading data\n"},
        {"stream cut in the graphics", {}, 5, 32, "tdftogif: avhrr_ch4: error reading data\n"},
        {"graphics read first", {"-1", "dyn"}, 5, 32, "tdftogif: avhrr_ch4: error reading data\n"},
        {"stream too short for the rows", {}, 6, 32, "tdftogif: avhrr_ch4: error reading data\n"},
        {"delta out of range", {}, 7, 46, "tdftogif: avhrr_ch4: error manipulating compressed file\n"},
        {"first code a delta", {}, 8, 48, "tdftogif: avhrr_ch4: error in compressed file, byte 0\n"},
        {"header block cut", {}, 9, 32, "tdftogif: avhrr_ch4: error reading data\n"},
        {"plain rows missing", {}, 10, 32, "tdftogif: avhrr_ch4: error reading data\n"},
        // The first read that fails, rows in order and in each the data
        // before the graphics: graphics row 4, data row 6; data row 2.
        {"shifted down, planes", {"-1", "255,0,0"}, 11, 32, "tdftogif: graphics: error reading data\n"},
        {"shifted down, no planes", {}, 11, 32, "tdftogif: avhrr_ch4: error reading data\n"},
        {"shifted up, planes", {"-1", "dyn"}, 12, 32, "tdftogif: avhrr_ch4: error reading data\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = c.args;
        args.push_back(datasets[static_cast<std::size_t>(c.dataset)]);
        const run_result r = convert(args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.err);
    }
}

// Graphics runs that overrun their row, and runs of leftover repetitions a
// whole row long or more, fill the following rows and never anything
// outside the image.
TEST_F(Hostile, OverrunningGraphicsRunsStayInsideTheImage)
{
    const int rows = 5;
    Bytes stream;
    // Data: an absolute 1000, then deltas of 0.
    stream.push_back(0x83);
    stream.push_back(0xE8);
    stream.insert(stream.end(), rows * C - 1, 0x00);
    // Graphics: plane 1 for 250 samples (rows 0 to 2 and 40 samples of row
    // 3), then plane 2 for 256 samples, which overrun the last row by 156.
    stream.insert(stream.end(), {0x01, 249, 0x02, 255});
    const std::string path = write(compressed_with_stream(rows, stream));

    const run_result r = convert({"-c", "5", "-1", "255,0,0", "-2", "0,0,255", path});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(r.image);
    const int plane1 = 5 + 3, plane2 = 5 + 4;
    for (int row = 0; row < rows; ++row)
        for (int c = 0; c < C; ++c) {
            const int sample = row * C + c;
            EXPECT_EQ(gdImageGetPixel(r.image.get(), 11 + c, 11 + row), sample < 250 ? plane1 : plane2)
                << row << "," << c;
        }
}

// Navigational shifts at the ends of the 16-bit range move the whole image
// out of view: every pixel of the raster is missing data, nothing fails.
TEST_F(Hostile, ExtremeShiftsGiveAnImageOfMissingData)
{
    struct shift_case {
        std::int16_t vertical, horizontal;
    };
    const std::vector<shift_case> cases = {
        {32767, 0}, {-32768, 0}, {0, 32767}, {0, -32768}, {-32767, 32767}, {32767, -32768},
    };
    for (const bool compressed : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::to_string(c.vertical) + "," + std::to_string(c.horizontal) +
                         (compressed ? " compressed" : " plain"));
            tdw::DatasetDescription desc = infrared(4, C);
            desc.compressed = compressed;
            desc.fields["vertical_shift"] = c.vertical;
            desc.fields["horizontal_shift"] = c.horizontal;
            const run_result r = convert({"-c", "5", "-b", "1,2,3", write(desc)});
            ASSERT_EQ(r.status, 0) << r.err;
            ASSERT_TRUE(r.image);
            const int bad = 5 + 2;
            for (int row = 0; row < 4; ++row)
                for (int col = 0; col < C; ++col)
                    ASSERT_EQ(gdImageGetPixel(r.image.get(), 11 + col, 11 + row), bad) << row << "," << col;
        }
    }
}

// Hostile option values: the option stage or the range checks refuse them,
// or they are clamped into something drawable.
TEST_F(Hostile, OptionValuesFailWithTheirLineAndStatus)
{
    const std::string ir = write(infrared(4, C));
    struct option_case {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const std::vector<option_case> cases = {
        // Beyond int: atoi would wrap these into 1 and 0, which are valid.
        {{"-c", "4294967297"}, -2, "tdftogif: 4294967297: invalid number of colors\n"},
        {{"-c", "-4294967295"}, -2, "tdftogif: -4294967295: invalid number of colors\n"},
        {{"-d", "-4294967296"}, -2, "tdftogif: -4294967296: invalid number of decimal places\n"},
        {{"-d", "29"}, -2, "tdftogif: 29: invalid number of decimal places\n"},
        {{"-t", "nan"}, -2, "tdftogif: nan: invalid tick interval\n"},
        // Extents that are not finite numbers.
        {{"-l", "nan", "-h", "nan"}, -3, "tdftogif: min >= max: invalid data extents\n"},
        {{"-h", "-inf"}, -3, "tdftogif: min >= max: invalid data extents\n"},
        {{"-l", "-1e39"}, -3, "tdftogif: min >= max: invalid data extents\n"},
        {{"-l", "inf", "-h", "inf"}, -3, "tdftogif: min >= max: invalid data extents\n"},
        // Tick counts beyond the most a scale is drawn with, beyond int, or
        // not a number.
        {{"-t", "1e-30"}, -7, "tdftogif: make_tics: ticint too small for min, max\n"},
        {{"-t", "1e-45"}, -7, "tdftogif: make_tics: ticint too small for min, max\n"},
        {{"-l", "0", "-h", "1000000", "-t", "1"}, -7, "tdftogif: make_tics: ticint too small for min, max\n"},
        {{"-l", "-3e38", "-h", "3e38"}, -7, "tdftogif: make_tics: ticint too small for min, max\n"},
        {{"-l", "0", "-h", "3e38", "-t", "1e35"},
         -7,
         "tdftogif: make_tics: tick labels too long for min, max\n"},
    };
    for (const auto& c : cases) {
        std::string title;
        for (const auto& a : c.args)
            title += a + " ";
        SCOPED_TRACE(title);
        std::vector<std::string> args = c.args;
        args.push_back(ir);
        const run_result r = convert(args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.err);
    }
}

// The values just inside the limits still make an image.
TEST_F(Hostile, OptionValuesAtTheLimitsStillDraw)
{
    const std::string ir = write(infrared(4, C));
    // The most ticks a scale is drawn with, 0.0 to 999999.0: labels of 8
    // characters.
    run_result r = convert({"-c", "3", "-l", "0", "-h", "999999", "-t", "1", ir});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(r.image);
    EXPECT_EQ(gdImageSX(r.image.get()), C + 89 + 9 * 8);

    // An infinite interval leaves the one tick at min.
    r = convert({"-c", "3", "-t", "inf", ir});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(r.image);
    EXPECT_EQ(gdImageSX(r.image.get()), C + 89 + 9 * 4);

    // Colour components outside 0 to 255, even beyond int, are clamped.
    r = convert({"-c", "3", "-b", "256,-1,99999999999", "-1", "-99999999999,300,128", ir});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(r.image);
    const int bad = 3 + 2, plane1 = 3 + 3;
    EXPECT_EQ(gdImageRed(r.image.get(), bad), 255);
    EXPECT_EQ(gdImageGreen(r.image.get(), bad), 0);
    EXPECT_EQ(gdImageBlue(r.image.get(), bad), 255);
    EXPECT_EQ(gdImageRed(r.image.get(), plane1), 0);
    EXPECT_EQ(gdImageGreen(r.image.get(), plane1), 255);
    EXPECT_EQ(gdImageBlue(r.image.get(), plane1), 128);
}

// The largest image a header can ask for (32767 x 32767 from a file of a
// few hundred bytes) would take about a gigabyte.  The converter reads the
// last data row before it makes the image, so the missing data is reported
// with the line and status of a failed row read, and the image is never
// allocated: the run ends the same way with far less memory than it needs.
class LargestImage : public Hostile {
protected:
    // Unshifted, shifted down, and shifted up so that the last row shows
    // nothing stored and the row showing the last stored row must be tried.
    static constexpr std::array<std::int16_t, 3> shifts = {0, 2, -2};

    std::string path(std::int16_t vertical_shift)
    {
        tdw::DatasetDescription desc = infrared(4, C);
        desc.fields["rows"] = 32767;
        desc.fields["columns"] = 32767;
        desc.fields["vertical_shift"] = vertical_shift;
        return write(desc);
    }
};

TEST_F(LargestImage, MissingRowsAreFoundBeforeTheImageIsMade)
{
    for (const std::int16_t shift : shifts) {
        SCOPED_TRACE(shift);
        const auto r = tdtest::run_command(tdtest::tdftogif_path(), {"-o", "/dev/null", path(shift)});
        EXPECT_EQ(r.exit_code, 32);
        EXPECT_EQ(r.err, "tdftogif: avhrr_ch4: error reading data\n");
    }
}

TEST_F(LargestImage, NeedsNoMemoryForTheImageOfMissingData)
{
#ifdef TDF_UNDER_ASAN
    GTEST_SKIP() << "AddressSanitizer needs more address space than the limit below";
#else
    // With 300 MB of address space the gigabyte image could not be made.
    for (const std::int16_t shift : shifts) {
        SCOPED_TRACE(shift);
        const auto r =
            tdtest::run_command("/bin/sh", {"-c", "ulimit -v 300000 && exec \"$0\" \"$@\"",
                                            tdtest::tdftogif_path(), "-o", "/dev/null", path(shift)});
        EXPECT_EQ(r.exit_code, 32);
        EXPECT_EQ(r.err, "tdftogif: avhrr_ch4: error reading data\n");
    }
#endif
}

} // namespace
