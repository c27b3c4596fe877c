// fuzz_gdal.cpp - the GDAL plugin on arbitrary bytes, in this process:
// Identify, Open by path and by subdataset name, whole-band and windowed
// reads (straight into the caller's buffer and through GDAL's block cache,
// in the band's type and in others), every metadata domain, the
// georeferencing and the file list, for the data band and for the graphics
// subdataset; last, a window of plane bits written in update mode.
//
// Besides the sanitizers, it checks that Identify and Open agree with the
// library's own open, that every band read gives the status and the values
// the file's bytes call for (expected_reads.h), that the TIDEWELL metadata
// domain lists the 57 header attributes, and that no dataset of the
// library stays open once GDAL has closed its datasets.  The planes
// written in update mode read back, and nothing else changed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cpl_conv.h"
#include "cpl_error.h"
#include "cpl_string.h"
#include "cpl_vsi.h"
#include "gdal.h"
#include "expected_reads.h"
#include "input_file.h"
#include "tidewell.h"

extern "C" void GDALRegister_Tidewell();

namespace {

// Samples of a whole-band read; larger images (a few header bytes can ask
// for 32767 x 32767) are read in windows only.
constexpr std::int64_t kWholeBandSamples = 1 << 14;

[[noreturn]] void fail(const char* what, const std::string& detail = {})
{
    fuzz::fail("fuzz_gdal", what, detail);
}

struct Closer {
    void operator()(GDALDatasetH ds) const noexcept { GDALClose(ds); }
};
using Dataset = std::unique_ptr<void, Closer>;

Dataset open(const std::string& name)
{
    const char* const drivers[] = {"Tidewell", nullptr};
    return Dataset(GDALOpenEx(name.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, drivers, nullptr, nullptr));
}

// Whether every row of a band's rows [r0, r0 + h) reads: GDAL reads a
// window through its block cache one whole row at a time.
int rows_status(const fuzz::ExpectedReads& expected, int varid, std::uint32_t r0, std::uint32_t h)
{
    std::vector<float> floats;
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t r = r0; r < r0 + h; ++r)
        if (const int s = expected.read(varid, {r, 0}, {1, static_cast<std::uint32_t>(expected.columns())},
                                        TD_FLOAT, floats, bytes);
            s != TD_NOERR)
            return s;
    return TD_NOERR;
}

// Reads a window of the band in its own type and checks it against the
// bytes of the file; `direct` windows (whole rows) go straight into the
// buffer, the others through the block cache.
void read_window(GDALRasterBandH band, const fuzz::ExpectedReads& expected, int varid, std::uint32_t r0,
                 std::uint32_t c0, std::uint32_t h, std::uint32_t w)
{
    const GDALDataType type = varid == 0 ? GDT_Float32 : GDT_Byte;
    const std::size_t n = std::size_t{h} * w;
    std::vector<std::uint8_t> buffer(n * static_cast<std::size_t>(GDALGetDataTypeSizeBytes(type)));
    const CPLErr err = GDALRasterIO(band, GF_Read, static_cast<int>(c0), static_cast<int>(r0),
                                    static_cast<int>(w), static_cast<int>(h), buffer.data(),
                                    static_cast<int>(w), static_cast<int>(h), type, 0, 0);
    const int rows = rows_status(expected, varid, r0, h);
    if ((err == CE_None) != (rows == TD_NOERR))
        fail("a band read succeeded or failed against the bytes of the file", std::to_string(rows));
    if (err != CE_None)
        return;
    const int value_type = varid == 0 ? TD_FLOAT : TD_BYTE;
    if (const char* what = expected.check(varid, {r0, c0}, {h, w}, value_type, TD_NOERR, buffer.data()))
        fail(what, "(band read)");

    // The same window as doubles, through GDAL's conversion, and at half
    // the size (GDAL picks the samples): only the status is known.
    std::vector<double> doubles(n);
    if (GDALRasterIO(band, GF_Read, static_cast<int>(c0), static_cast<int>(r0), static_cast<int>(w),
                     static_cast<int>(h), doubles.data(), static_cast<int>(w), static_cast<int>(h),
                     GDT_Float64, 0, 0) != CE_None)
        fail("a window read as doubles failed where it read in the band's type");
    for (std::size_t k = 0; k < n; ++k) {
        const double v =
            varid == 0 ? double(reinterpret_cast<const float*>(buffer.data())[k]) : double(buffer[k]);
        if (!(doubles[k] == v))
            fail("a window read as doubles differs from the band's type");
    }
    const int bw = std::max<int>(1, static_cast<int>(w) / 2), bh = std::max<int>(1, static_cast<int>(h) / 2);
    std::vector<std::int16_t> small(static_cast<std::size_t>(bw) * bh);
    if (GDALRasterIO(band, GF_Read, static_cast<int>(c0), static_cast<int>(r0), static_cast<int>(w),
                     static_cast<int>(h), small.data(), bw, bh, GDT_Int16, 0, 0) != CE_None)
        fail("a reduced window read failed where the full one read");
}

// The band's reads: the whole band when it is small, and windows whose
// corners come from the input's last bytes.
void read_band(GDALDatasetH ds, const fuzz::ExpectedReads& expected, int varid, const std::uint8_t* data,
               std::size_t size)
{
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    if (band == nullptr)
        fail("an opened dataset has no band 1");
    const auto rows = static_cast<std::uint32_t>(GDALGetRasterYSize(ds));
    const auto columns = static_cast<std::uint32_t>(GDALGetRasterXSize(ds));
    if (std::int64_t{rows} != expected.rows() || std::int64_t{columns} != expected.columns())
        fail("the dataset's size is not the header's");
    if (GDALGetRasterDataType(band) != (varid == 0 ? GDT_Float32 : GDT_Byte))
        fail("the band has another type");
    int has_nodata = 0;
    const double nodata = GDALGetRasterNoDataValue(band, &has_nodata);
    if (varid == 0 && (!has_nodata || nodata != TD_BAD_VALUE))
        fail("the data band's nodata value is not -999");
    (void)GDALGetRasterUnitType(band);
    (void)GDALGetDescription(band);

    if (std::int64_t{rows} * columns <= kWholeBandSamples)
        read_window(band, expected, varid, 0, 0, rows, columns);
    const auto pick = [&](std::size_t k, std::uint32_t limit) -> std::uint32_t {
        return limit == 0 || size < k + 1 ? 0 : static_cast<std::uint32_t>(data[size - 1 - k]) % limit;
    };
    for (std::size_t k = 0; k < 8; k += 4) {
        const std::uint32_t r0 = pick(k, rows), c0 = pick(k + 1, columns);
        const std::uint32_t h = 1 + pick(k + 2, std::min<std::uint32_t>(32, rows - r0));
        const std::uint32_t w = 1 + pick(k + 3, std::min<std::uint32_t>(32, columns - c0));
        read_window(band, expected, varid, r0, c0, h, w);
        // Whole rows of the same height: the direct path.
        read_window(band, expected, varid, r0, 0, h, columns);
    }
}

// Every metadata domain, the georeferencing and the file list.  The
// TIDEWELL domain of the dataset holds the 57 attributes, a short one as
// its stored integer.
void describe(GDALDatasetH ds, const std::string& path, bool attributes)
{
    char** domains = GDALGetMetadataDomainList(ds);
    for (char** d = domains; d != nullptr && *d != nullptr; ++d)
        (void)GDALGetMetadata(ds, *d);
    CSLDestroy(domains);
    for (const char* domain : {"", "TIDEWELL", "IMAGERY", "SUBDATASETS", "xml:XMP", "RPC", "GEOLOCATION"})
        (void)GDALGetMetadata(ds, domain);
    double transform[6];
    (void)GDALGetGeoTransform(ds, transform);
    (void)GDALGetSpatialRef(ds);
    (void)GDALGetProjectionRef(ds);
    CSLDestroy(GDALGetFileList(ds));
    if (!attributes)
        return;

    CSLConstList items = GDALGetMetadata(ds, "TIDEWELL");
    if (CSLCount(items) != TD_NUM_ATTRIBUTES)
        fail("the TIDEWELL domain does not hold the 57 attributes", std::to_string(CSLCount(items)));
    int id = -1;
    if (td_open(path.c_str(), TD_READONLY, &id) != TD_NOERR)
        fail("the library no longer opens what GDAL opened");
    for (int a = 0; a < TD_NUM_ATTRIBUTES; ++a) {
        char name[TD_ATT_NAME_SIZE];
        std::int16_t kind = 0, stored = 0;
        if (td_attinq(id, 0, a, name, &kind, nullptr) != TD_NOERR ||
            td_attget_stored(id, 0, name, &stored) != TD_NOERR)
            fail("an attribute of an opened dataset cannot be read", name);
        const char* value = CSLFetchNameValue(items, name);
        if (value == nullptr)
            fail("the TIDEWELL domain lacks an attribute", name);
        if (kind == TD_ATT_SHORT && std::to_string(stored) != value)
            fail("a short attribute shows another value", name);
    }
    (void)td_close(id);
}

// Opens the graphics subdataset for update, writes a window of plane bits
// drawn from the input and closes it; opened again, the window holds the
// bits and every other sample of both variables reads as before.
void write_planes(const std::string& path, const fuzz::ExpectedReads& expected, const std::uint8_t* data,
                  std::size_t size)
{
    const std::string name = "TIDEWELL:\"" + path + "\":graphics";
    const auto rows = static_cast<std::uint32_t>(expected.rows());
    const auto columns = static_cast<std::uint32_t>(expected.columns());
    const std::uint32_t r0 = size > 0 ? data[0] % rows : 0, c0 = size > 1 ? data[1] % columns : 0;
    const std::uint32_t h = std::min<std::uint32_t>(rows - r0, 3),
                        w = std::min<std::uint32_t>(columns - c0, 9);
    std::vector<std::uint8_t> bits(std::size_t{h} * w);
    for (std::size_t k = 0; k < bits.size(); ++k)
        bits[k] = static_cast<std::uint8_t>(data[k % size] & 0x0F);
    {
        const char* const drivers[] = {"Tidewell", nullptr};
        const Dataset ds(
            GDALOpenEx(name.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE, drivers, nullptr, nullptr));
        if (!ds)
            fail("the graphics subdataset does not open for update");
        if (GDALRasterIO(GDALGetRasterBand(ds.get(), 1), GF_Write, static_cast<int>(c0), static_cast<int>(r0),
                         static_cast<int>(w), static_cast<int>(h), bits.data(), static_cast<int>(w),
                         static_cast<int>(h), GDT_Byte, 0, 0) != CE_None)
            fail("a window of plane bits was not written");
    }
    fuzz::require_no_open_dataset();
    // GDAL writes whole rows; the rows of a plain dataset narrower than its
    // 136 header bytes that lie over them are refused, the others written.
    const auto compression = fuzz::header_field(data, size, 78, 0);
    const auto over_header = [&](std::uint32_t r) {
        return compression == 0 && 2 * std::int64_t{columns} * (r + 1) < 136;
    };
    int id = -1;
    if (td_open(path.c_str(), TD_READONLY, &id) != TD_NOERR)
        fail("a dataset written in update mode does not open");
    std::vector<float> now, before;
    std::vector<std::uint8_t> unused;
    for (int varid = 0; varid <= 1; ++varid) {
        for (std::uint32_t r = 0; r < rows; ++r) {
            now.resize(columns);
            const std::uint32_t start[2]{r, 0}, count[2]{1, columns};
            if (td_varget_float(id, varid, start, count, now.data()) != TD_NOERR ||
                expected.read(varid, {r, 0}, {1, columns}, TD_FLOAT, before, unused) != TD_NOERR)
                fail("a row of a dataset written in update mode does not read", std::to_string(r));
            // A row is written whole or not at all: one over the header is
            // refused, and after a refused row GDAL may leave the rest.
            const bool in_window = varid == 1 && r >= r0 && r < r0 + h;
            const bool refused = in_window && over_header(r);
            const bool may_be_left = in_window && over_header(r0);
            bool as_written = true, as_before = true;
            for (std::uint32_t c = 0; c < columns; ++c) {
                const bool inside = in_window && c >= c0 && c < c0 + w;
                const float written = inside ? float(bits[(r - r0) * w + (c - c0)]) : before[c];
                as_written = as_written && std::memcmp(&now[c], &written, sizeof written) == 0;
                as_before = as_before && std::memcmp(&now[c], &before[c], sizeof written) == 0;
            }
            if (!(refused ? as_before : as_written || (may_be_left && as_before)))
                fail("a dataset written in update mode reads otherwise at row", std::to_string(r));
        }
    }
    (void)td_close(id);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Nothing beside the dataset is looked for or written: no .aux.xml, no
    // listing of the input's folder for each open.
    CPLSetConfigOption("GDAL_PAM_ENABLED", "NO");
    CPLSetConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", "TRUE");
    CPLSetErrorHandler(CPLQuietErrorHandler);
    // A pool of one open dataset: every other dataset GDAL reads pushes the
    // last one out, which must be opened again, checked to be the same
    // file, when it is read next.
    CPLSetConfigOption("TIDEWELL_MAX_OPEN_DATASETS", "1");
    GDALRegister_Tidewell();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& path = fuzz::write_input(data, size);
    const fuzz::ExpectedReads expected({data, size});
    const bool library_opens = expected.open_status() == TD_NOERR;

    const bool identified = GDALIdentifyDriver(path.c_str(), nullptr) != nullptr;
    if (identified != library_opens)
        fail("Identify disagrees with the library's open", std::to_string(expected.open_status()));
    bool planes_open = false;
    {
        const Dataset ds = open(path);
        Dataset variable;
        if (ds && !library_opens)
            fail("GDAL opened what the library refuses");
        const bool has_graphics = expected.data_id() == 0 || expected.data_id() == 1;
        if (ds) {
            describe(ds.get(), path, true);
            if (GDALGetRasterCount(ds.get()) > 0) {
                read_band(ds.get(), expected, 0, data, size);
            } else {
                // A container of the data and the planes: the data is its
                // first subdataset.
                const char* first = GDALGetMetadataItem(ds.get(), "SUBDATASET_1_NAME", "SUBDATASETS");
                variable = first != nullptr ? open(first) : Dataset();
                if (!has_graphics || !variable)
                    fail("a dataset without a band has no data subdataset");
                describe(variable.get(), path, false);
                read_band(variable.get(), expected, 0, data, size);
            }
        }
        const Dataset graphics = open("TIDEWELL:\"" + path + "\":graphics");
        if (graphics && (!ds || !has_graphics))
            fail("the graphics subdataset opened without the dataset or its planes");
        if (ds && has_graphics && !graphics)
            fail("the graphics subdataset of an opened dataset did not open");
        if (graphics) {
            describe(graphics.get(), path, false);
            read_band(graphics.get(), expected, 1, data, size);
            planes_open = true;
            // The planes pushed the data out of the pool of one: a whole row
            // of it (past GDAL's cache) opens it again, checked to be the
            // same file, and reads the same.
            GDALDatasetH again = variable ? variable.get() : ds.get();
            if (again != nullptr && expected.rows() > 0)
                read_window(GDALGetRasterBand(again, 1), expected, 0, std::uint32_t(expected.rows() - 1), 0,
                            1, std::uint32_t(expected.columns()));
        }
        if (open("TIDEWELL:\"" + path + "\":nothing") || open("TIDEWELL:") || open("TIDEWELL:\"\":graphics"))
            fail("a subdataset name that names nothing opened");

        // The same bytes as a GDAL virtual file, read through callbacks:
        // opened where the file opens, a row of the data or of the planes
        // as the bytes call for.
        const std::string memory = "/vsimem/fuzz_gdal.tdf";
        VSIFCloseL(VSIFileFromMemBuffer(memory.c_str(), const_cast<GByte*>(data), size, FALSE));
        {
            const Dataset virtual_file = open(memory);
            if (bool(virtual_file) != bool(ds))
                fail("a virtual file opened where the file did not, or the other way round");
            if (Dataset(
                    GDALOpenEx(memory.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE, nullptr, nullptr, nullptr)))
                fail("a virtual file opened for update");
            const Dataset band_of = virtual_file && GDALGetRasterCount(virtual_file.get()) == 0
                                        ? open("TIDEWELL:\"" + memory + "\":graphics")
                                        : Dataset();
            GDALDatasetH with_band = band_of ? band_of.get() : virtual_file.get();
            if (with_band != nullptr && GDALGetRasterCount(with_band) > 0 && expected.rows() > 0)
                read_window(GDALGetRasterBand(with_band, 1), expected, band_of ? 1 : 0,
                            std::uint32_t(expected.rows() - 1), 0, 1, std::uint32_t(expected.columns()));
        }
        VSIUnlink(memory.c_str());
    }
    // Every GDAL dataset closed: the pool holds nothing.
    int pool_limit = -1, pool_open = -1, pool_handles = -1;
    if (td_pool_inq(&pool_limit, &pool_open, &pool_handles) != TD_NOERR || pool_limit != 1 ||
        pool_open != 0 || pool_handles != 0)
        fail("the pool holds datasets, or its limit is not one", std::to_string(pool_limit) + " " +
                                                                     std::to_string(pool_open) + " " +
                                                                     std::to_string(pool_handles));
    fuzz::require_no_open_dataset();
    // Planes written in update mode, where every row of the dataset reads.
    const bool small = expected.rows() > 0 && expected.columns() > 0 &&
                       std::int64_t{expected.rows()} * expected.columns() <= kWholeBandSamples;
    std::vector<float> all;
    std::vector<std::uint8_t> unused;
    if (small && planes_open &&
        expected.read(0, {0, 0}, {std::uint32_t(expected.rows()), std::uint32_t(expected.columns())},
                      TD_FLOAT, all, unused) == TD_NOERR &&
        expected.read(1, {0, 0}, {std::uint32_t(expected.rows()), std::uint32_t(expected.columns())},
                      TD_FLOAT, all, unused) == TD_NOERR)
        write_planes(path, expected, data, size);
    return 0;
}
