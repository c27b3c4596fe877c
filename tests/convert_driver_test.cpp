// convert_driver_test.cpp - one conversion end to end: failure lines and
// statuses, the output file, the image size and its palette, and repeated
// in-process runs that must leave nothing open behind them.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gd.h>

#include "colormaps.h"
#include "dataset_writer.h"
#include "driver.h"
#include "gif_image.h"
#include "command_line.h"
#include "run_command.h"
#include "tidewell.h"

namespace {

using tdtest::colour;
using tdtest::decode;
using tdtest::expect_palette;
using tdtest::expected_palette;
using tdtest::image_ptr;

void expect_same_pixels(gdImagePtr a, gdImagePtr b)
{
    ASSERT_EQ(gdImageSX(a), gdImageSX(b));
    ASSERT_EQ(gdImageSY(a), gdImageSY(b));
    for (int y = 0; y < gdImageSY(a); ++y)
        for (int x = 0; x < gdImageSX(a); ++x)
            ASSERT_EQ(gdImageGetPixel(a, x, y), gdImageGetPixel(b, x, y)) << x << "," << y;
}

// Columns of the test datasets: the header takes the first row slot, and its
// fields need 136 bytes, so narrower datasets would overlap their first rows.
constexpr int C = 140;

class ConvertDriver : public testing::Test {
protected:
    tdtest::TempDir dir;

    std::string dataset(const std::string& name, tdw::DatasetDescription desc)
    {
        const std::string path = dir.file(name);
        tdw::write_dataset(path, desc);
        return path;
    }

    static tdw::DatasetDescription infrared(int rows, int columns)
    {
        tdw::DatasetDescription desc;
        desc.data_id = tdw::kInfrared;
        desc.rows = static_cast<std::int16_t>(rows);
        desc.columns = static_cast<std::int16_t>(columns);
        desc.value = [](int r, int c) { return (r * 37 + c * 11) % 400 - 100; };
        return desc;
    }

    static tdw::DatasetDescription of_kind(std::int16_t kind)
    {
        tdw::DatasetDescription desc;
        desc.data_id = kind;
        desc.rows = 6;
        desc.columns = C;
        return desc;
    }

    static tdtest::CommandResult run(const std::vector<std::string>& args,
                                     const tdtest::CommandOptions& options = {})
    {
        return tdtest::run_command(tdtest::tdftogif_path(), args, options);
    }
};

// Every failure of the run that a dataset file can provoke: line and status.
TEST_F(ConvertDriver, FailuresReportTheirLineAndStatus)
{
    const std::string ir = dataset("ir", infrared(4, C));
    const std::string vis = dataset("vis", of_kind(tdw::kVisible));
    tdw::DatasetDescription no_rows = infrared(4, C);
    no_rows.fields["rows"] = -1;
    tdw::DatasetDescription no_columns = infrared(4, C);
    no_columns.fields["columns"] = -1;
    tdw::DatasetDescription bad_channel = infrared(4, C);
    bad_channel.fields["channel_number"] = 999;
    const std::string not_a_dataset = dir.file("text");
    tdw::write_bytes(not_a_dataset, {'h', 'e', 'l', 'l', 'o'});
    tdw::DatasetDescription short_area = infrared(4, C);
    short_area.fields["rows"] = 300;
    const std::string cut = dataset("cut", short_area);
    tdw::DatasetDescription unnamed = infrared(4, C);
    unnamed.fields["satellite_id"] = static_cast<std::int16_t>(0xD5FF); // magic byte kept, no name
    const std::string no_satellite = dataset("nosat", unnamed);
    const std::string too_small = "tdftogif: make_tics: ticint too small for min, max\n";

    struct failure_case {
        std::vector<std::string> args;
        int exit_code;
        std::string err;
    };
    const std::vector<failure_case> cases = {
        {{dir.file("missing")}, 3, "tdftogif: " + dir.file("missing") + ": cannot access dataset\n"},
        {{not_a_dataset}, 26, "tdftogif: " + not_a_dataset + ": wrong magic number, unrecognized format\n"},
        {{dataset("norows", no_rows)}, 10, "tdftogif: rows: invalid dimension\n"},
        {{dataset("nocols", no_columns)}, 10, "tdftogif: columns: invalid dimension\n"},
        {{dataset("badchan", bad_channel)},
         40,
         "tdftogif: variable 0: unsupported channel number in header\n"},
        {{"-l", "10", "-h", "10", ir}, 253, "tdftogif: min >= max: invalid data extents\n"},
        {{"-l", "25", vis}, 253, "tdftogif: min >= max: invalid data extents\n"},
        {{"-h", "3", ir}, 253, "tdftogif: min >= max: invalid data extents\n"},
        {{"-l", "nan", ir}, 253, "tdftogif: min >= max: invalid data extents\n"},
        {{"-l", "-inf", ir}, 253, "tdftogif: min >= max: invalid data extents\n"},
        {{"-h", "inf", ir}, 253, "tdftogif: min >= max: invalid data extents\n"},
        {{"-h", "1e39", ir}, 253, "tdftogif: min >= max: invalid data extents\n"}, // beyond float
        {{"-m", "nosuch", ir}, 250, "tdftogif: nosuch: invalid color map\n"},
        {{"-m", "Prism", ir}, 250, "tdftogif: Prism: invalid color map\n"},
        // 2600001 ticks are too many to draw, but the reads of the run come
        // first; a count beyond int is refused as the ticks are made.
        {{"-t", "0.00001", ir}, 249, too_small},
        {{"-l", "0", "-h", "1000000", "-t", "1", ir}, 249, too_small},
        {{"-t", "0.00001", cut}, 32, "tdftogif: avhrr_ch4: error reading data\n"},
        {{"-s", "-t", "0.00001", no_satellite},
         21,
         std::string("tdftogif: satellite_id: ") + td_strerror(21) + "\n"},
        {{"-t", "1e-30", cut}, 249, too_small},
        {{"-l", "1e30", "-h", "2e30", "-t", "1e29", ir},
         249,
         "tdftogif: make_tics: tick labels too long for min, max\n"},
        {{"-d", "28", "-h", "1000", ir}, 249, "tdftogif: make_tics: tick labels too long for min, max\n"},
    };
    for (const auto& c : cases) {
        std::string title;
        for (const auto& a : c.args)
            title += a + " ";
        SCOPED_TRACE(title);
        const auto r = run(c.args);
        EXPECT_EQ(r.exit_code, c.exit_code);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, ""); // no image bytes, no usage
    }
}

// An interval beyond the float range gives the one tick at min, the image
// of any interval larger than the range; thousands of ticks are drawn.
TEST_F(ConvertDriver, TickIntervalsAtTheEndsOfTheRange)
{
    const int columns = 70;
    const std::string ir = dataset("ir", infrared(2, columns));
    struct interval_case {
        std::vector<std::string> args; // before -t
        std::string ticint, same_as;
        int width;
    };
    const std::vector<interval_case> cases = {
        {{}, "1e39", "60", columns + 89 + 36},
        {{}, "3.5e38", "60", columns + 89 + 36},
        {{}, "1e300", "60", columns + 89 + 36},
        {{}, "inf", "60", columns + 89 + 36},
        {{"-d", "2", "-l", "100", "-h", "130"}, "1e39", "100", columns + 89 + 54}, // "100.00"
        {{"-l", "-0.0", "-h", "10"}, "inf", "60", columns + 89 + 36},              // " 0.0"
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("-t " + c.ticint + " after " + std::to_string(c.args.size()) + " arguments");
        std::vector<std::string> args = c.args, same = c.args;
        args.insert(args.end(), {"-t", c.ticint, ir});
        same.insert(same.end(), {"-t", c.same_as, ir});
        const auto r = run(args);
        const auto s = run(same);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        ASSERT_EQ(s.exit_code, 0) << s.err;
        const image_ptr a = decode(r.out);
        const image_ptr b = decode(s.out);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(gdImageSX(a.get()), c.width);
        expect_same_pixels(a.get(), b.get());
        for (int x = columns + 54; x <= columns + 59; ++x)
            EXPECT_EQ(gdImageGetPixel(a.get(), x, 12), 1) << "the tick mark at min, x " << x;
    }

    // 13001 ticks, " 4.0" to "30.0", on two rows.
    const auto r = run({"-t", "0.002", ir});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const image_ptr image = decode(r.out);
    ASSERT_TRUE(image);
    EXPECT_EQ(gdImageSX(image.get()), columns + 89 + 36);
}

TEST_F(ConvertDriver, OutputFileIsCreatedOnlyAfterTheDatasetOpens)
{
    const std::string ir = dataset("ir", infrared(3, C));
    // The dataset cannot be opened: no output file.
    const std::string never = dir.file("never.gif");
    auto r = run({"-o", never, dir.file("missing")});
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_FALSE(tdtest::file_exists(never));

    // A late failure creates no file either (data_safety_test.cpp has the
    // cases of an earlier output).
    const std::string late = dir.file("late.gif");
    r = run({"-o", late, "-m", "nosuch", ir});
    EXPECT_EQ(r.exit_code, 250);
    EXPECT_EQ(r.err, "tdftogif: nosuch: invalid color map\n");
    EXPECT_FALSE(tdtest::file_exists(late));

    // The file cannot be created.
    const std::string nowhere = dir.file("no/such/dir/out.gif");
    r = run({"-o", nowhere, ir});
    EXPECT_EQ(r.exit_code, 252);
    EXPECT_EQ(r.err, "tdftogif: " + nowhere + ": can't create output file\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(ConvertDriver, WriteErrorsAreNotSuccess)
{
    const std::string ir = dataset("ir", infrared(40, C));
    tdtest::CommandOptions to_full;
    to_full.stdout_path = "/dev/full";
    auto r = run({ir}, to_full);
    EXPECT_EQ(r.exit_code, 252);
    EXPECT_EQ(r.err, "tdftogif: standard output: can't write output file\n");

    r = run({"-o", "/dev/full", ir});
    EXPECT_EQ(r.exit_code, 252);
    EXPECT_EQ(r.err, "tdftogif: /dev/full: can't write output file\n");
    for (const char* text : {"--help", "--version"}) {
        r = run({text}, to_full);
        EXPECT_EQ(r.exit_code, 252) << text;
        EXPECT_EQ(r.err, "tdftogif: standard output: can't write output file\n") << text;
    }
}

TEST_F(ConvertDriver, StandardOutputCarriesTheGifAndNothingElse)
{
    const std::string ir = dataset("ir", infrared(4, C));
    const auto r = run({ir});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_GE(r.out.size(), 6u);
    EXPECT_EQ(r.out.substr(0, 6), "GIF87a");
    EXPECT_EQ(r.out.back(), ';'); // the trailer ends the stream
    const image_ptr image = decode(r.out);
    ASSERT_TRUE(image);
    // Infrared: ticks 4.0 .. 30.0, four characters wide.
    EXPECT_EQ(gdImageSX(image.get()), C + 89 + 9 * 4);
    EXPECT_EQ(gdImageSY(image.get()), 4 + 22);
    EXPECT_EQ(gdImageGetTransparent(image.get()), -1);
    EXPECT_EQ(gdImageGetInterlaced(image.get()), 0);
    expect_palette(image.get(), expected_palette("hsl256", 245, false, {0, 0, 0}));
    EXPECT_EQ(gdImageGetPixel(image.get(), 0, 0), 0); // unpainted: background
}

TEST_F(ConvertDriver, OutputFileHoldsTheSameImage)
{
    const std::string ir = dataset("ir", infrared(7, C));
    const auto piped = run({ir});
    ASSERT_EQ(piped.exit_code, 0) << piped.err;
    const std::string out = dir.file("out.gif");
    const auto filed = run({"-o", out, ir});
    ASSERT_EQ(filed.exit_code, 0) << filed.err;
    EXPECT_EQ(filed.out, "");
    const image_ptr a = decode(piped.out);
    const image_ptr b = decode(tdtest::read_file(out));
    ASSERT_TRUE(a && b);
    expect_same_pixels(a.get(), b.get());
}

// A compressed dataset is read in place, row by row; the image is the
// one its plain twin gives.  -u without -s changes nothing.
TEST_F(ConvertDriver, CompressedAndPlainGiveTheSameImage)
{
    tdw::DatasetDescription desc = infrared(9, C);
    desc.nibble = [](int r, int c) { return (r + c) % 3 == 0 ? 2 : 0; };
    const std::string plain = dataset("plain", desc);
    desc.compressed = true;
    const std::string packed = dataset("packed", desc);
    const std::string packed_bytes = tdtest::read_file(packed);

    const auto a = run({"-2", "dyn", plain});
    const auto b = run({"-2", "dyn", "-u", packed});
    ASSERT_EQ(a.exit_code, 0) << a.err;
    ASSERT_EQ(b.exit_code, 0) << b.err;
    EXPECT_EQ(b.err, "");
    const image_ptr ia = decode(a.out);
    const image_ptr ib = decode(b.out);
    ASSERT_TRUE(ia && ib);
    expect_same_pixels(ia.get(), ib.get());
    // Opened read-only: the dataset file is left as it was.
    EXPECT_EQ(tdtest::read_file(packed), packed_bytes);
}

// Reading a compressed dataset takes no temporary space: a 4096 x 4096
// conversion (both variables) succeeds with /tmp, where TMPDIR points too,
// a 1 MiB file system.  That needs a private mount namespace, so root and
// unshare(1); elsewhere the test is skipped.  The converter is run through
// a descriptor opened before the mount, and the files are named from the
// working directory, in case the test's directories lie under /tmp.
TEST_F(ConvertDriver, CompressedConversionNeedsNoTemporarySpace)
{
    const std::string unshare = "/usr/bin/unshare";
    if (geteuid() != 0 || !tdtest::file_exists(unshare))
        GTEST_SKIP() << "needs root and " << unshare;
    const auto probe =
        tdtest::run_command(unshare, {"-m", "/bin/sh", "-c", "mount -t tmpfs -o size=1m tdfprobe /tmp"});
    if (probe.exit_code != 0)
        GTEST_SKIP() << "no private mount namespace here: " << probe.err;

    tdw::DatasetDescription desc = infrared(4096, 4096);
    desc.compressed = true;
    desc.nibble = [](int r, int c) { return (r + 3 * c) % 251 < 3 ? 2 : 0; };
    dataset("big.tdf", desc);
    const std::string script =
        "set -e; exec 3<\"$1\"; mount -t tmpfs -o size=1m tdftmp /tmp; "
        "TMPDIR=/tmp exec /proc/self/fd/3 -2 dyn -o big.gif big.tdf";
    tdtest::CommandOptions options;
    options.cwd = dir.path();
    const auto r =
        tdtest::run_command(unshare, {"-m", "/bin/sh", "-c", script, "sh", tdtest::tdftogif_path()}, options);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const image_ptr image = decode(tdtest::read_file(dir.file("big.gif")));
    ASSERT_TRUE(image);
    EXPECT_EQ(gdImageSY(image.get()), 4096 + 22);
}

// Image size and palette for the settings that shape them.
TEST_F(ConvertDriver, SizeAndPaletteFollowTheSettings)
{
    const std::string ir = dataset("ir", infrared(8, C));
    const std::string cloud = dataset("cloud", of_kind(tdw::kCloud));
    tdw::DatasetDescription scan = of_kind(tdw::kAncillary);
    scan.fields["channel_number"] = 105;
    const std::string scan_time = dataset("scan", scan);
    const std::string angle = dataset("angle", of_kind(tdw::kAncillary));
    const std::string vis = dataset("vis", of_kind(tdw::kVisible));

    struct size_case {
        std::vector<std::string> args;
        int width, height;
        std::vector<colour> palette;
    };
    const std::vector<size_case> cases = {
        {{ir}, C + 89 + 36, 30, expected_palette("hsl256", 245, false, {0, 0, 0})},
        // Two decimal places: "30.00" is one character wider.
        {{"-d", "2", ir}, C + 89 + 45, 30, expected_palette("hsl256", 245, false, {0, 0, 0})},
        // No decimals: " 30" is three characters.
        {{"-d", "0", ir}, C + 89 + 27, 30, expected_palette("hsl256", 245, false, {0, 0, 0})},
        {{"-c", "1", "-i", ir}, C + 89 + 36, 30, expected_palette("hsl256", 1, true, {0, 0, 0})},
        {{"-c", "2", "-m", "prism", "-b", "300,-5,7", ir},
         C + 89 + 36,
         30,
         expected_palette("prism", 2, false, {255, 0, 7})},
        {{"-c", "10", "-m", "meridia", "-1", "255,0,0", "-2", "1,2", "-3", "dyn", "-4", "9,8,7", ir},
         C + 89 + 36,
         30,
         expected_palette("meridia", 10, false, {0, 0, 0}, {{255, 0, 0}, {1, 2, 0}, {0, 0, 0}, {9, 8, 7}})},
        // Kind defaults decide the widest label: "255.0", "24.0", "90.0", "20.0".
        {{"-c", "3", cloud}, C + 89 + 45, 28, expected_palette("hsl256", 3, false, {0, 0, 0})},
        {{"-c", "3", scan_time}, C + 89 + 36, 28, expected_palette("black-white", 3, false, {0, 0, 0})},
        {{"-c", "3", angle}, C + 89 + 36, 28, expected_palette("black-white", 3, false, {0, 0, 0})},
        {{"-c", "3", "-f", ir}, C + 89 + 36, 30, expected_palette("hsl256", 3, false, {0, 0, 0})},
        // Given extents: -10 and -5 are labels of five and four characters.
        {{"-c", "3", "-l", "-10", "-h", "10", "-t", "5", ir},
         C + 89 + 45,
         30,
         expected_palette("hsl256", 3, false, {0, 0, 0})},
        {{"-c", "3", "-l", "10", vis}, C + 89 + 36, 28, expected_palette("black-white", 3, false, {0, 0, 0})},
    };
    for (const auto& c : cases) {
        std::string title;
        for (const auto& a : c.args)
            title += a + " ";
        SCOPED_TRACE(title);
        const auto r = run(c.args);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const image_ptr image = decode(r.out);
        ASSERT_TRUE(image);
        EXPECT_EQ(gdImageSX(image.get()), c.width);
        EXPECT_EQ(gdImageSY(image.get()), c.height);
        expect_palette(image.get(), c.palette);
        EXPECT_EQ(gdImageGetPixel(image.get(), 0, 0), 0);
    }
}

TEST_F(ConvertDriver, FullSizeInfraredImage)
{
    const std::string ir = dataset("ir512", infrared(512, 512));
    const auto r = run({"-s", "-u", ir});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const image_ptr image = decode(r.out);
    ASSERT_TRUE(image);
    EXPECT_EQ(gdImageSX(image.get()), 637);
    EXPECT_EQ(gdImageSY(image.get()), 534);
}

// A dataset with no rows or no columns has no samples: the image holds the
// frames and the scale around an empty raster, and no row is read.
TEST_F(ConvertDriver, EmptyDimensionsGiveAnEmptyRaster)
{
    struct empty_case {
        int rows, columns, width, height;
    };
    for (const empty_case& c : {empty_case{0, C, C + 89 + 36, 22}, empty_case{5, 0, 89 + 36, 27}}) {
        SCOPED_TRACE(std::to_string(c.rows) + " x " + std::to_string(c.columns));
        tdw::DatasetDescription desc = infrared(4, C);
        desc.fields["rows"] = static_cast<std::int16_t>(c.rows);
        desc.fields["columns"] = static_cast<std::int16_t>(c.columns);
        const auto r = run({dataset("empty", desc)});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const image_ptr image = decode(r.out);
        ASSERT_TRUE(image);
        EXPECT_EQ(gdImageSX(image.get()), c.width);
        EXPECT_EQ(gdImageSY(image.get()), c.height);
    }
}

// Planes are painted only where the dataset has a graphics variable; the
// plane entries are made either way.
TEST_F(ConvertDriver, PlanesNeedAGraphicsVariable)
{
    tdw::DatasetDescription ir = infrared(3, C);
    ir.nibble = [](int, int) { return 1; };
    const std::string with_graphics = dataset("ir", ir);
    const std::string cloud = dataset("cloud", of_kind(tdw::kCloud));
    const int n = 5;
    const int plane1 = n + 3;

    auto r = run({"-c", "5", "-1", "255,0,0", with_graphics});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    image_ptr image = decode(r.out);
    ASSERT_TRUE(image);
    EXPECT_EQ(gdImageGetPixel(image.get(), 11, 11), plane1);
    EXPECT_EQ(gdImageGetPixel(image.get(), C + 10, 13), plane1);

    r = run({"-c", "5", "-1", "255,0,0", cloud});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    image = decode(r.out);
    ASSERT_TRUE(image);
    expect_palette(image.get(), expected_palette("hsl256", n, false, {0, 0, 0}, {{255, 0, 0}}));
    for (int y = 11; y < 11 + 6; ++y)
        for (int x = 11; x < 11 + C; ++x)
            EXPECT_NE(gdImageGetPixel(image.get(), x, y), plane1) << x << "," << y;
}

// Runs convert() in this process as main would after the option stage.
int convert_in_process(std::vector<const char*> args, std::string* err = nullptr)
{
    args.insert(args.begin(), "tdftogif");
    tdf::cmd_options options;
    testing::internal::CaptureStderr();
    const tdf::parse_result parsed = tdf::parse_options(static_cast<int>(args.size()), args.data(), options);
    const int status = parsed.ok ? tdf::convert(options) : parsed.status;
    const std::string text = testing::internal::GetCapturedStderr();
    if (err)
        *err = text;
    return status;
}

int open_descriptors()
{
    int count = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++count;
        closedir(d);
    }
    return count;
}

// Failing and succeeding runs, more of them than the dataset table has
// slots, must each release the dataset, the output file and the image.
TEST_F(ConvertDriver, RepeatedInProcessRunsReleaseEverything)
{
    tdw::DatasetDescription desc = infrared(5, C);
    desc.nibble = [](int r, int) { return r & 1; };
    const std::string ir = dataset("ir", desc);
    const std::string out = dir.file("out.gif");
    const int before = open_descriptors();

    for (int i = 0; i < 120; ++i) {
        std::string err;
        ASSERT_EQ(convert_in_process({"-o", out.c_str(), "-m", "nosuch", ir.c_str()}, &err), -6) << err;
        ASSERT_EQ(convert_in_process({"-o", out.c_str(), "-l", "9", "-h", "1", ir.c_str()}, &err), -3) << err;
        ASSERT_EQ(convert_in_process({"-t", "0.00001", ir.c_str()}, &err), -7) << err;
        ASSERT_EQ(convert_in_process({"-c", "4", "-1", "dyn", "-o", out.c_str(), ir.c_str()}, &err), 0)
            << err;
        ASSERT_EQ(err, "");
    }
    EXPECT_EQ(open_descriptors(), before);

    const image_ptr image = decode(tdtest::read_file(out));
    ASSERT_TRUE(image);
    EXPECT_EQ(gdImageSX(image.get()), C + 89 + 36);
    expect_palette(image.get(), expected_palette("hsl256", 4, false, {0, 0, 0}));
}

} // namespace
