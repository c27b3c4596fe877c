// gdal_driver_test.cpp - the Tidewell GDAL plugin loaded into GDAL as a
// user's program loads it: pixels against the library's own reads, many
// datasets and a mosaic, two threads, damaged and foreign files.  Also run
// in the sanitizer build, where the plugin is instrumented.
#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <optional>
#include <cstring>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include "cpl_conv.h"
#include "cpl_string.h"
#include "cpl_vsi.h"
#include "cpl_error.h"
#include "gdal.h"
#include "gdal_fixtures.h"
#include "gdal_utils.h"
#include "run_command.h"
#include "tidewell.h"

namespace {

using tdgdal_test::LibraryReads;

class GdalEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        CPLSetConfigOption("GDAL_DRIVER_PATH", TIDEWELL_PLUGIN_DIR);
        GDALAllRegister();
    }
    void TearDown() override { GDALDestroyDriverManager(); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GdalEnvironment);

// A GDAL dataset handle closed on scope exit.
struct Dataset {
    GDALDatasetH handle = nullptr;
    explicit Dataset(const std::string& name)
        : handle(GDALOpenEx(name.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr))
    {
    }
    Dataset(Dataset&& other) noexcept : handle(std::exchange(other.handle, nullptr)) {}
    ~Dataset()
    {
        if (handle != nullptr)
            GDALClose(handle);
    }
    GDALRasterBandH band() const { return GDALGetRasterBand(handle, 1); }
};

// Reads a window of band 1 as `type`; the error message on failure.
template <typename T>
CPLErr read_window(const Dataset& ds, GDALDataType type, int x, int y, int width, int height,
                   std::vector<T>& out)
{
    out.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), T{});
    return GDALRasterIO(ds.band(), GF_Read, x, y, width, height, out.data(), width, height, type, 0, 0);
}

template <typename T>
std::vector<T> window_of(const std::vector<T>& all, int columns, int x, int y, int width, int height)
{
    std::vector<T> out;
    for (int row = y; row < y + height; ++row)
        for (int column = x; column < x + width; ++column)
            out.push_back(all[static_cast<std::size_t>(row) * columns + column]);
    return out;
}

// Float results compared bit for bit: the driver hands over the library's
// values unchanged.
bool same_bits(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

using tdgdal_test::data_name;
using tdgdal_test::subdataset;

// Silences GDAL's error output for the life of the object; the last
// message is still kept.
struct QuietErrors {
    QuietErrors() { CPLPushErrorHandler(CPLQuietErrorHandler); }
    ~QuietErrors() { CPLPopErrorHandler(); }
};

class DriverTest : public ::testing::Test {
protected:
    void TearDown() override { CPLSetConfigOption("TIDEWELL_MAX_OPEN_DATASETS", nullptr); }

    std::string write(const std::string& name, const tdw::DatasetDescription& desc)
    {
        const std::string path = dir.file(name);
        tdw::write_dataset(path, desc);
        return path;
    }

    tdtest::TempDir dir;
};

TEST_F(DriverTest, PixelsAreTheLibraryReads)
{
    for (const tdgdal_test::Fixture& fixture : tdgdal_test::gdal_fixtures()) {
        const std::string path = write(fixture.name + ".tdf", fixture.desc);
        const LibraryReads expected = tdgdal_test::read_with_library(path);
        ASSERT_EQ(expected.status, TD_NOERR);
        // The same bytes in GDAL's memory file system, read through VSI.
        const std::string bytes = tdtest::read_file(path);
        const std::string memory = "/vsimem/tidewell-test/" + fixture.name + ".tdf";
        VSIFCloseL(VSIFileFromMemBuffer(
            memory.c_str(), reinterpret_cast<GByte*>(const_cast<char*>(bytes.data())), bytes.size(), FALSE));
        for (const std::string& name : {path, memory}) {
            SCOPED_TRACE(name);
            // A dataset with graphics planes is a container of two subdatasets.
            const Dataset whole(name);
            ASSERT_NE(whole.handle, nullptr);
            EXPECT_EQ(GDALGetRasterCount(whole.handle), expected.graphics.empty() ? 1 : 0);
            EXPECT_EQ(CSLCount(GDALGetMetadata(whole.handle, "SUBDATASETS")),
                      expected.graphics.empty() ? 0 : 4);
            const Dataset ds(data_name(name, expected));
            ASSERT_NE(ds.handle, nullptr);
            EXPECT_STREQ(GDALGetDriverShortName(GDALGetDatasetDriver(ds.handle)), "Tidewell");
            ASSERT_EQ(GDALGetDataTypeSize(GDALGetRasterDataType(ds.band())), 32);

            // The whole raster (whole rows straight from the library) and a
            // window inside it (through GDAL's block cache).
            std::vector<float> values;
            ASSERT_EQ(read_window(ds, GDT_Float32, 0, 0, expected.columns, expected.rows, values), CE_None);
            EXPECT_TRUE(same_bits(values, expected.data));
            ASSERT_EQ(read_window(ds, GDT_Float32, 5, 3, 60, 17, values), CE_None);
            EXPECT_TRUE(same_bits(values, window_of(expected.data, expected.columns, 5, 3, 60, 17)));

            const Dataset planes(subdataset(name, "graphics"));
            ASSERT_EQ(planes.handle != nullptr, !expected.graphics.empty());
            if (planes.handle == nullptr)
                continue;
            std::vector<std::uint8_t> bits;
            ASSERT_EQ(read_window(planes, GDT_Byte, 0, 0, expected.columns, expected.rows, bits), CE_None);
            EXPECT_EQ(bits, expected.graphics);
            ASSERT_EQ(read_window(planes, GDT_Byte, 9, 1, 40, 20, bits), CE_None);
            EXPECT_EQ(bits, window_of(expected.graphics, expected.columns, 9, 1, 40, 20));
        }
        // Only a local file can be written back: a virtual one is refused
        // for update, and its bytes stay as they were.
        for (const std::string& name : {data_name(memory, expected), subdataset(memory, "graphics")}) {
            const QuietErrors quiet;
            const GDALDatasetH update =
                GDALOpenEx(name.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE, nullptr, nullptr, nullptr);
            EXPECT_EQ(update, nullptr) << name;
            if (update != nullptr)
                GDALClose(update);
            else
                EXPECT_EQ(std::string(CPLGetLastErrorMsg()),
                          memory + ": a GDAL virtual file opens read-only");
        }
        vsi_l_offset length = 0;
        const GByte* held = VSIGetMemFileBuffer(memory.c_str(), &length, FALSE);
        ASSERT_NE(held, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(held), length), bytes);
        VSIUnlink(memory.c_str());
    }
}

// The library has 100 slots; GDAL may hold any number of datasets open.
// Their mosaic with gdalbuildvrt -sd 1 holds the data, with -sd 2 the
// graphics planes.
TEST_F(DriverTest, HundredFiftyDatasetsOpenAtOnceAndTheirMosaics)
{
    constexpr int kTileRows = 10, kTileColumns = 70, kAcross = 15, kDown = 10;
    std::vector<std::string> paths;
    std::vector<Dataset> open;
    for (int i = 0; i < kDown; ++i)
        for (int j = 0; j < kAcross; ++j) {
            paths.push_back(
                write("tile-" + std::to_string(i) + "-" + std::to_string(j) + ".tdf",
                      tdgdal_test::mosaic_tile(i * kTileRows, j * kTileColumns, kTileRows, kTileColumns)));
            open.emplace_back(subdataset(paths.back(), "avhrr_ch4"));
            ASSERT_NE(open.back().handle, nullptr) << paths.back() << ": " << CPLGetLastErrorMsg();
        }
    for (int pass = 0; pass < 2; ++pass)
        for (std::size_t n = 0; n < open.size(); ++n) {
            std::vector<float> values;
            ASSERT_EQ(read_window(open[n], GDT_Float32, 0, 0, kTileColumns, kTileRows, values), CE_None)
                << paths[n] << ": " << CPLGetLastErrorMsg();
            const int row0 = static_cast<int>(n) / kAcross * kTileRows;
            const int column0 = static_cast<int>(n) % kAcross * kTileColumns;
            int wrong = 0;
            for (int r = 0; r < kTileRows; ++r)
                for (int c = 0; c < kTileColumns; ++c)
                    wrong += values[static_cast<std::size_t>(r * kTileColumns + c)] !=
                             static_cast<float>(tdgdal_test::mosaic_count(row0 + r, column0 + c));
            EXPECT_EQ(wrong, 0) << paths[n];
        }
    open.clear();

    // gdalbuildvrt -sd N over the 150 files, then gdal_translate of the mosaic.
    std::vector<const char*> names;
    for (const std::string& p : paths)
        names.push_back(p.c_str());
    for (const char* sd : {"1", "2"}) {
        SCOPED_TRACE(std::string("-sd ") + sd);
        const std::string vrt = dir.file(std::string("mosaic") + sd + ".vrt");
        const std::string tif = dir.file(std::string("mosaic") + sd + ".tif");
        const char* arguments[] = {"-sd", sd, nullptr};
        GDALBuildVRTOptions* options = GDALBuildVRTOptionsNew(const_cast<char**>(arguments), nullptr);
        int usage_error = 0;
        GDALDatasetH mosaic = GDALBuildVRT(vrt.c_str(), static_cast<int>(names.size()), nullptr, names.data(),
                                           options, &usage_error);
        GDALBuildVRTOptionsFree(options);
        ASSERT_NE(mosaic, nullptr) << CPLGetLastErrorMsg();
        GDALDatasetH translated = GDALTranslate(tif.c_str(), mosaic, nullptr, &usage_error);
        ASSERT_NE(translated, nullptr) << CPLGetLastErrorMsg();
        GDALClose(translated);
        GDALClose(mosaic);

        const Dataset result(tif);
        ASSERT_EQ(GDALGetRasterXSize(result.handle), kAcross * kTileColumns);
        ASSERT_EQ(GDALGetRasterYSize(result.handle), kDown * kTileRows);
        EXPECT_EQ(GDALGetRasterDataType(result.band()), sd[0] == '1' ? GDT_Float32 : GDT_Byte);
        std::array<double, 6> transform{};
        ASSERT_EQ(GDALGetGeoTransform(result.handle, transform.data()), CE_None);
        EXPECT_DOUBLE_EQ(transform[0], tdgdal_test::kMosaicLon0 - tdgdal_test::kMosaicStep / 2);
        EXPECT_DOUBLE_EQ(transform[3], tdgdal_test::kMosaicLat0 + tdgdal_test::kMosaicStep / 2);
        std::vector<float> values;
        ASSERT_EQ(read_window(result, GDT_Float32, 0, 0, kAcross * kTileColumns, kDown * kTileRows, values),
                  CE_None);
        int wrong = 0;
        for (int row = 0; row < kDown * kTileRows; ++row)
            for (int column = 0; column < kAcross * kTileColumns; ++column)
                wrong += values[static_cast<std::size_t>(row) * kAcross * kTileColumns + column] !=
                         static_cast<float>(sd[0] == '1' ? tdgdal_test::mosaic_count(row, column)
                                                         : tdgdal_test::mosaic_planes(row, column));
        EXPECT_EQ(wrong, 0);
    }
}

// Two threads read two compressed datasets at once, with room for both in
// the cache of open ids and with room for one (each read reopens).
TEST_F(DriverTest, TwoThreadsReadTwoDatasets)
{
    std::vector<std::string> paths;
    std::vector<LibraryReads> expected;
    for (int n = 0; n < 2; ++n) {
        tdw::DatasetDescription desc;
        desc.data_id = tdw::kInfrared;
        desc.rows = 120;
        desc.columns = 150;
        desc.compressed = true;
        desc.value = [n](int r, int c) { return 1 + (r * (n + 3) + c * 11) % 2047; };
        desc.nibble = [n](int r, int c) { return (r + c + n) % 16; };
        paths.push_back(write("thread-" + std::to_string(n) + ".tdf", desc));
        expected.push_back(tdgdal_test::read_with_library(paths.back()));
        ASSERT_EQ(expected.back().status, TD_NOERR);
    }
    for (const char* capacity : {"16", "1"}) {
        SCOPED_TRACE(capacity);
        CPLSetConfigOption("TIDEWELL_MAX_OPEN_DATASETS", capacity);
        std::atomic<int> mismatches{0};
        std::latch start(2);
        auto reader = [&](int n) {
            const Dataset ds(data_name(paths[n], expected[n]));
            start.arrive_and_wait();
            if (ds.handle == nullptr) {
                ++mismatches;
                return;
            }
            std::vector<float> row;
            for (int pass = 0; pass < 5; ++pass)
                for (int r = 0; r < expected[n].rows; ++r) {
                    GDALFlushCache(ds.handle); // every row is read from the file again
                    if (read_window(ds, GDT_Float32, 0, r, expected[n].columns, 1, row) != CE_None ||
                        !same_bits(row, window_of(expected[n].data, expected[n].columns, 0, r,
                                                  expected[n].columns, 1)))
                        ++mismatches;
                }
        };
        std::thread first(reader, 0);
        std::thread second(reader, 1);
        first.join();
        second.join();
        EXPECT_EQ(mismatches.load(), 0);
    }
}

// A damaged compressed dataset opens (its header is sound) and its reads
// fail with the library's message, never with a crash; a plain dataset
// whose file is shorter than its header claims is refused at open, as
// GDAL's raw formats are.
TEST_F(DriverTest, DamagedDatasetsFailReadsWithTheLibrarysMessage)
{
    tdw::DatasetDescription plain;
    plain.data_id = tdw::kInfrared;
    plain.rows = 40;
    plain.columns = 80;
    plain.value = [](int r, int c) { return 1 + (r * 80 + c) % 2000; };
    tdw::DatasetDescription compressed = plain;
    compressed.compressed = true;
    tdw::DatasetDescription huge = plain;
    huge.rows = 2;
    huge.fields["rows"] = 32767;
    huge.fields["columns"] = 32767;

    std::vector<std::uint8_t> garbled = tdw::build_dataset(compressed);
    for (std::size_t i = 1024 + 40; i < garbled.size(); i += 3)
        garbled[i] = 0xFF;
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        const char* refused; // the open's message, or nullptr: opens, reads fail
    };
    const Case cases[] = {
        {"plain-cut", tdw::build_truncated(plain, 160 * 20 + 7),
         "file too small for its header: 40 rows of 80 samples need 6560 bytes, the file has 3207"},
        {"plain-claims-32767-squared", tdw::build_dataset(huge),
         "file too small for its header: 32767 rows of 32767 samples need 2147418112 bytes, the file has "
         "480"},
        {"compressed-cut", tdw::build_truncated(compressed, 1024 + 100), nullptr},
        {"compressed-garbled", garbled, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        tdw::write_bytes(path, c.bytes);
        const QuietErrors quiet;
        CPLErrorReset();
        const std::string name = subdataset(path, "avhrr_ch4");
        if (c.refused != nullptr) {
            EXPECT_EQ(Dataset(name).handle, nullptr);
            EXPECT_EQ(std::string(CPLGetLastErrorMsg()), path + ": " + c.refused);
            EXPECT_EQ(Dataset(path).handle, nullptr);
            continue;
        }
        const LibraryReads library = tdgdal_test::read_with_library(path);
        ASSERT_NE(library.status, TD_NOERR) << "the damage must show in the library's reads";
        const Dataset ds(name);
        ASSERT_NE(ds.handle, nullptr) << CPLGetLastErrorMsg();
        std::vector<float> values;
        EXPECT_EQ(read_window(ds, GDT_Float32, 0, 0, 80, 40, values), CE_Failure);
        EXPECT_NE(std::string(CPLGetLastErrorMsg()).find(td_strerror(library.status)), std::string::npos)
            << CPLGetLastErrorMsg();
    }
}

// Files of other formats, or that the library refuses, are not claimed:
// they open with their own driver or with none.
TEST_F(DriverTest, OtherFilesAreNotClaimed)
{
    GDALDriverH mem = GDALGetDriverByName("MEM");
    GDALDatasetH image = GDALCreate(mem, "", 8, 8, 1, GDT_Byte, nullptr);
    const std::string png = dir.file("picture.png");
    const std::string tif = dir.file("picture.tif");
    GDALClose(
        GDALCreateCopy(GDALGetDriverByName("PNG"), png.c_str(), image, FALSE, nullptr, nullptr, nullptr));
    GDALClose(
        GDALCreateCopy(GDALGetDriverByName("GTiff"), tif.c_str(), image, FALSE, nullptr, nullptr, nullptr));
    GDALClose(image);

    tdw::DatasetDescription bad_kind;
    bad_kind.fields["data_id"] = 9;
    tdw::DatasetDescription bad_pixel;
    bad_pixel.fields["channel_pixel_size"] = 1;
    std::vector<std::uint8_t> text(300, 'x');
    text[0] = 0xD5;
    tdw::write_dataset(dir.file("kind.tdf"), bad_kind);
    tdw::write_dataset(dir.file("pixel.tdf"), bad_pixel);
    tdw::write_bytes(dir.file("d5.txt"), text);
    struct Case {
        std::string path;
        const char* driver; // nullptr: no driver
    };
    const Case cases[] = {
        {png, "PNG"},
        {tif, "GTiff"},
        {dir.file("kind.tdf"), nullptr},
        {dir.file("pixel.tdf"), nullptr},
        {dir.file("d5.txt"), nullptr},
    };
    for (const Case& c : cases) {
        GDALDriverH driver = GDALIdentifyDriver(c.path.c_str(), nullptr);
        EXPECT_STREQ(driver != nullptr ? GDALGetDriverShortName(driver) : nullptr, c.driver) << c.path;
    }
}

// A dataset written over in place or replaced on disk after GDAL opened it
// is never read as if it were the one GDAL described: with its library
// dataset still open (the next read sees the change) and after the pool
// closed it (it is not opened again).
TEST_F(DriverTest, ChangedFileIsNotReadAsTheOldOne)
{
    struct Case {
        const char* name;
        const char* pool_limit;
        bool in_place;
        bool compressed = false;
    };
    const Case cases[] = {
        {"written in place, kept open", "16", true},
        {"written in place, closed by the pool", "1", true},
        {"replaced, closed by the pool", "1", false},
        {"compressed, written in place, closed by the pool", "1", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tdw::DatasetDescription desc;
        desc.data_id = c.compressed ? tdw::kInfrared : tdw::kCloud;
        desc.compressed = c.compressed;
        desc.rows = 6;
        desc.columns = 70;
        desc.value = [](int r, int col) { return r + col; };
        const std::string first = write("first.tdf", desc);
        const std::string second = write("second.tdf", desc);
        const timespec past[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, first.c_str(), past, 0), 0);
        CPLSetConfigOption("TIDEWELL_MAX_OPEN_DATASETS", c.pool_limit);
        // An infrared dataset is a container: its data is a subdataset.
        const Dataset a(c.compressed ? subdataset(first, "avhrr_ch4") : first);
        const Dataset b(c.compressed ? subdataset(second, "avhrr_ch4") : second);
        std::vector<float> values;
        ASSERT_EQ(read_window(a, GDT_Float32, 0, 0, 70, 6, values), CE_None);
        ASSERT_EQ(read_window(b, GDT_Float32, 0, 0, 70, 6, values), CE_None);
        desc.value = [](int r, int col) { return (100 + r * col) % 256; };
        if (c.in_place) {
            const std::vector<std::uint8_t> bytes = tdw::build_dataset(desc);
            std::FILE* f = std::fopen(first.c_str(), "r+b");
            ASSERT_NE(f, nullptr);
            ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
            std::fclose(f);
        } else {
            ASSERT_EQ(std::rename(write("new.tdf", desc).c_str(), first.c_str()), 0);
        }
        GDALFlushCache(a.handle);
        const QuietErrors quiet;
        EXPECT_EQ(read_window(a, GDT_Float32, 0, 3, 70, 2, values), CE_Failure);
        EXPECT_EQ(std::string(CPLGetLastErrorMsg()),
                  first +
                      (c.compressed ? ": avhrr_ch4 rows 3 to 4: error manipulating compressed file "
                                    : ": cloud rows 3 to 4: error manipulating uncompressed file ") +
                      "(dataset changed on disk since it was opened)");
    }
}

} // namespace
