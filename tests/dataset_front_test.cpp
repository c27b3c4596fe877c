// The td_ front: opening and closing, the table of open datasets, dataset
// ids, dimensions, variables and messages, on files made by the writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "compression.h"
#include "dataset_writer.h"
#include "library_fixture.h"
#include "run_command.h"
#include "tidewell.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

using tdtest::description_of;

class Front : public tdtest::LibraryTest {
protected:
};

// ---------------------------------------------------------------- opening

struct OpenCase {
    const char* what;
    Bytes bytes;
    int mode;
    int status;
};

Bytes with_byte0(Bytes bytes, std::uint8_t first)
{
    bytes[0] = first;
    return bytes;
}

TEST_F(Front, OpenStatusesAndNoTraceAfterFailure)
{
    using tdw::build_dataset;
    const std::vector<OpenCase> cases{
        {"infrared", build_dataset(description_of(tdw::kInfrared)), TD_READONLY, TD_NOERR},
        {"visible read-write", build_dataset(description_of(tdw::kVisible)), TD_WRITE, TD_NOERR},
        {"ancillary", build_dataset(description_of(tdw::kAncillary)), TD_READONLY, TD_NOERR},
        {"cloud", build_dataset(description_of(tdw::kCloud)), TD_READONLY, TD_NOERR},
        {"empty file", {}, TD_READONLY, TD_ENOMAGIC},
        {"first byte 0", with_byte0(build_dataset(description_of(tdw::kInfrared)), 0x00), TD_READONLY,
         TD_EMAGIC},
        {"first byte 0xD4", with_byte0(build_dataset(description_of(tdw::kInfrared)), 0xD4), TD_WRITE,
         TD_EMAGIC},
        {"magic byte alone", {0xD5}, TD_READONLY, TD_EREADATT},
        {"cut before data_id", tdw::build_truncated(description_of(tdw::kInfrared), 51), TD_READONLY,
         TD_EREADATT},
        {"cut before channel_pixel_size", tdw::build_truncated(description_of(tdw::kInfrared), 63),
         TD_READONLY, TD_EREADATT},
        {"cut before ancillary_pixel_size", tdw::build_truncated(description_of(tdw::kAncillary), 71),
         TD_READONLY, TD_EREADATT},
        {"cloud cut after columns", tdw::build_truncated(description_of(tdw::kCloud), 52), TD_READONLY,
         TD_NOERR},
        {"visible pixel size 1", build_dataset(description_of(tdw::kVisible, {{"channel_pixel_size", 1}})),
         TD_READONLY, TD_EPIXSIZE},
        {"infrared pixel size 4", build_dataset(description_of(tdw::kInfrared, {{"channel_pixel_size", 4}})),
         TD_READONLY, TD_EPIXSIZE},
        {"infrared ignores ancillary_pixel_size",
         build_dataset(description_of(tdw::kInfrared, {{"ancillary_pixel_size", 1}})), TD_READONLY, TD_NOERR},
        {"ancillary pixel size -1",
         build_dataset(description_of(tdw::kAncillary, {{"ancillary_pixel_size", -1}})), TD_READONLY,
         TD_EPIXSIZE},
        {"ancillary ignores channel_pixel_size",
         build_dataset(description_of(tdw::kAncillary, {{"channel_pixel_size", 1}})), TD_READONLY, TD_NOERR},
        {"cloud pixel sizes 0",
         build_dataset(description_of(tdw::kCloud, {{"channel_pixel_size", 0}, {"ancillary_pixel_size", 0}})),
         TD_READONLY, TD_NOERR},
        {"cloud pixel sizes -7",
         build_dataset(
             description_of(tdw::kCloud, {{"channel_pixel_size", -7}, {"ancillary_pixel_size", 9}})),
         TD_READONLY, TD_NOERR},
        {"data_id 4", build_dataset(description_of(4)), TD_READONLY, TD_EDATAID},
        {"data_id -1", build_dataset(description_of(-1)), TD_READONLY, TD_EDATAID},
        {"data_id -32768", build_dataset(description_of(-32768)), TD_READONLY, TD_EDATAID},
        {"mode 2", build_dataset(description_of(tdw::kInfrared)), 2, TD_EMODE},
        {"mode -1", build_dataset(description_of(tdw::kInfrared)), -1, TD_EMODE},
    };
    const std::string good = write("good", description_of(tdw::kInfrared));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = write("case", c.bytes);
        int id = 77;
        ASSERT_EQ(td_open(path.c_str(), c.mode, &id), c.status);
        if (c.status == TD_NOERR) {
            EXPECT_EQ(id, 0);
            EXPECT_EQ(td_close(id), TD_NOERR);
        } else {
            EXPECT_EQ(id, 77) << "a failed open hands out no id";
        }
        // Slot 0 is free again: the next open takes it, and no other slot is held.
        const int next = open_ok(good);
        EXPECT_EQ(next, 0);
        EXPECT_EQ(td_close(next), TD_NOERR);
        EXPECT_EQ(td_close(1), TD_EBADID);
    }
}

TEST_F(Front, MissingPathOrDirectory)
{
    int id = -1;
    EXPECT_EQ(td_open(dir.file("absent").c_str(), TD_READONLY, &id), TD_EACCESS);
    EXPECT_EQ(td_open(dir.file("absent").c_str(), TD_WRITE, &id), TD_EACCESS);
    // A directory cannot be opened for update, nor read as a dataset.
    EXPECT_EQ(td_open(dir.path().c_str(), TD_WRITE, &id), TD_EACCESS);
    const int status = td_open(dir.path().c_str(), TD_READONLY, &id);
    EXPECT_TRUE(status == TD_EACCESS || status == TD_ENOMAGIC) << status;
    // Absent path or id place: refused before anything is opened.
    const std::string good = write("good", description_of(tdw::kInfrared));
    EXPECT_EQ(td_open(nullptr, TD_READONLY, &id), TD_EACCESS);
    EXPECT_EQ(td_open(good.c_str(), TD_READONLY, nullptr), TD_EACCESS);
    EXPECT_EQ(open_ok(good), 0);
}

TEST_F(Front, HundredSlotsLowestFreeReusedFullTableTouchesNothing)
{
    const std::string good = write("good", description_of(tdw::kInfrared));
    for (int expected = 0; expected < TD_MAX_DATASETS; ++expected)
        ASSERT_EQ(open_ok(good), expected);

    int id = -5;
    EXPECT_EQ(td_open(good.c_str(), TD_READONLY, &id), TD_EMAXDS);
    // With a full table nothing is opened: a missing or an empty file gives
    // 23, not their own statuses, and a bad mode is still reported first.
    EXPECT_EQ(td_open(dir.file("absent").c_str(), TD_READONLY, &id), TD_EMAXDS);
    const std::string empty = dir.file("empty");
    tdw::write_empty(empty);
    EXPECT_EQ(td_open(empty.c_str(), TD_WRITE, &id), TD_EMAXDS);
    EXPECT_EQ(td_open(good.c_str(), 2, &id), TD_EMODE);
    EXPECT_EQ(id, -5);

    EXPECT_EQ(td_close(5), TD_NOERR);
    EXPECT_EQ(td_close(3), TD_NOERR);
    EXPECT_EQ(td_close(99), TD_NOERR);
    EXPECT_EQ(open_ok(good), 3);
    EXPECT_EQ(open_ok(good), 5);
    EXPECT_EQ(open_ok(good), 99);
    EXPECT_EQ(td_open(good.c_str(), TD_READONLY, &id), TD_EMAXDS);
}

TEST_F(Front, CloseTwiceAndClosedIdNamesNothing)
{
    const std::string good = write("good", description_of(tdw::kInfrared));
    const int id = open_ok(good);
    EXPECT_EQ(td_close(id), TD_NOERR);
    EXPECT_EQ(td_close(id), TD_EBADID);
    int dimid = -1;
    EXPECT_EQ(td_dimid(id, "rows", &dimid), TD_EBADID);
}

TEST_F(Front, InvalidIdsFailEverywhere)
{
    const std::string good = write("good", description_of(tdw::kInfrared));
    ASSERT_EQ(open_ok(good), 0);
    for (const int id : {-1, 100, 1, 57, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(id);
        char text[64] = {};
        int n = 0;
        std::int16_t s = 0;
        int dimids[2] = {};
        EXPECT_EQ(td_close(id), TD_EBADID);
        EXPECT_EQ(td_enddef(id), TD_EBADID);
        EXPECT_EQ(td_dimid(id, "rows", &n), TD_EBADID);
        EXPECT_EQ(td_diminq(id, 0, text, &n), TD_EBADID);
        EXPECT_EQ(td_varid(id, "graphics", &n), TD_EBADID);
        EXPECT_EQ(td_varinq(id, 0, text, &s, &n, dimids, &n), TD_EBADID);
        EXPECT_EQ(td_attget_text(id, 0, "data_id", text), TD_EBADID);
        EXPECT_EQ(td_attget_short(id, 0, "orbit_start_year", &s), TD_EBADID);
    }
}

TEST_F(Front, EnddefOutsideDefineMode)
{
    const int id = open_ok(write("good", description_of(tdw::kInfrared)), TD_WRITE);
    EXPECT_EQ(td_enddef(id), TD_ENOTINDEFINE);
    EXPECT_EQ(td_close(id), TD_NOERR);
}

TEST_F(Front, ClosingNeverWritesAnUnexpandedDataset)
{
    tdw::DatasetDescription desc = description_of(tdw::kInfrared, {{"orbit_start_year", 1999}});
    desc.value = [](int r, int c) { return r * 10 - c; };
    const std::string path = write("ir", desc);
    const std::string before = tdtest::read_file(path);
    for (const int mode : {TD_READONLY, TD_WRITE}) {
        const int id = open_ok(path, mode);
        std::int16_t year = 0;
        EXPECT_EQ(td_attget_short(id, 0, "orbit_start_year", &year), TD_NOERR);
        EXPECT_EQ(td_close(id), TD_NOERR);
        EXPECT_EQ(tdtest::read_file(path), before);
    }
}

TEST_F(Front, CloseRecompressesOnlyExpandedReadWriteDatasets)
{
    // Row widths below and above the 1024-byte header block.
    for (const std::int16_t columns : {100, 600}) {
        SCOPED_TRACE(columns);
        tdw::DatasetDescription desc = description_of(tdw::kInfrared, {{"orbit_start_year", 1999}});
        desc.compressed = true;
        desc.rows = 3;
        desc.columns = columns;
        desc.value = [](int r, int c) { return (r * 131 + c * 17) % 400 - 200; };
        desc.nibble = [](int r, int c) { return (r + c / 50) % 16; };
        Bytes bytes;
        try {
            bytes = tdw::build_dataset(desc);
        } catch (const std::logic_error&) {
            GTEST_SKIP() << "the writer was built without the compressed layout";
        }
        // The header block: the first min(W, 1024) bytes of slot 0, then zeros.
        ASSERT_GT(bytes.size(), 1024u);
        EXPECT_EQ(bytes[112] << 8 | bytes[113], 1999);
        EXPECT_EQ(bytes[78] << 8 | bytes[79], 2);
        const auto width = static_cast<std::ptrdiff_t>(columns) * 2;
        if (width < 1024) {
            EXPECT_TRUE(std::all_of(bytes.begin() + width, bytes.begin() + 1024,
                                    [](std::uint8_t b) { return b == 0; }));
        }
        // Bytes after the stream are never read; only a rewrite drops them.
        Bytes with_trailer = bytes;
        with_trailer.insert(with_trailer.end(), 7, 0xAA);
        const std::string path = write("c", with_trailer);
        const std::string before = tdtest::read_file(path);
        const std::uint32_t start[2] = {0, 0};
        const std::uint32_t count[2] = {1, static_cast<std::uint32_t>(columns)};
        std::vector<float> row(static_cast<std::size_t>(columns));

        // Never read: the header is read in place and nothing is written back.
        int id = open_ok(path, TD_WRITE);
        std::int16_t year = 0;
        char text[TD_ATT_TEXT_SIZE];
        EXPECT_EQ(td_attget_short(id, 0, "orbit_start_year", &year), TD_NOERR);
        EXPECT_EQ(year, 1999);
        EXPECT_EQ(td_attget_text(id, 0, "compression_type", text), TD_NOERR);
        EXPECT_STREQ(text, "1b");
        EXPECT_EQ(td_close(id), TD_NOERR);
        EXPECT_EQ(tdtest::read_file(path), before);

        // Read, read-only or read-write: read in place, the file untouched.
        for (const int mode : {TD_READONLY, TD_WRITE}) {
            id = open_ok(path, mode);
            ASSERT_EQ(td_varget_float(id, 0, start, count, row.data()), TD_NOERR);
            EXPECT_EQ(td_attget_short(id, 0, "orbit_start_year", &year), TD_NOERR);
            EXPECT_EQ(td_close(id), TD_NOERR);
            EXPECT_EQ(tdtest::read_file(path), before);
        }

        // Read-write and expanded (the library's write path), but nothing
        // changed: nothing written back.
        id = open_ok(path, TD_WRITE);
        ASSERT_EQ(td::decompress_id(id), TD_NOERR);
        EXPECT_EQ(td_close(id), TD_NOERR);
        EXPECT_EQ(td_close(id), TD_EBADID);
        EXPECT_EQ(tdtest::read_file(path), before);
    }
}

// ------------------------------------------------------------- dimensions

TEST_F(Front, DimensionIdsNamesAndLengths)
{
    tdw::DatasetDescription desc = description_of(tdw::kInfrared);
    desc.rows = 3;
    desc.columns = 70;
    const int id = open_ok(write("ir", desc));

    int dimid = -1;
    EXPECT_EQ(td_dimid(id, "rows", &dimid), TD_NOERR);
    EXPECT_EQ(dimid, 0);
    EXPECT_EQ(td_dimid(id, "columns", &dimid), TD_NOERR);
    EXPECT_EQ(dimid, 1);
    for (const char* bad : {"Rows", "row", "rows ", "", "lines", "graphics"})
        EXPECT_EQ(td_dimid(id, bad, &dimid), TD_EBADDIM) << bad;
    EXPECT_EQ(td_dimid(id, nullptr, &dimid), TD_EBADDIM);

    char name[TD_DIM_NAME_SIZE];
    int length = -1;
    EXPECT_EQ(td_diminq(id, 0, name, &length), TD_NOERR);
    EXPECT_STREQ(name, "rows");
    EXPECT_EQ(length, 3);
    EXPECT_EQ(td_diminq(id, 1, name, &length), TD_NOERR);
    EXPECT_STREQ(name, "columns");
    EXPECT_EQ(length, 70);
    // Each output is optional.
    EXPECT_EQ(td_diminq(id, 1, nullptr, &length), TD_NOERR);
    EXPECT_EQ(td_diminq(id, 0, name, nullptr), TD_NOERR);
    EXPECT_EQ(td_diminq(id, 0, nullptr, nullptr), TD_NOERR);
    for (const int bad : {2, -1, 100})
        EXPECT_EQ(td_diminq(id, bad, name, &length), TD_EBADDIMID) << bad;
}

struct DimCase {
    std::int16_t rows, columns;
};

TEST_F(Front, UndefinedAndNegativeDimensions)
{
    // -1 marks an undefined dimension; any other negative length is treated
    // the same way, so a caller never sees a negative length.
    for (const DimCase c :
         std::vector<DimCase>{{-1, 5}, {5, -1}, {-2, -32768}, {0, 0}, {32767, 1}, {-1, -1}}) {
        SCOPED_TRACE(std::to_string(c.rows) + "x" + std::to_string(c.columns));
        const int id =
            open_ok(write("d", description_of(tdw::kCloud, {{"rows", c.rows}, {"columns", c.columns}})));
        const std::int16_t lengths[2] = {c.rows, c.columns};
        const char* names[2] = {"rows", "columns"};
        for (int d = 0; d < 2; ++d) {
            int dimid = -1, length = -99;
            if (lengths[d] < 0) {
                EXPECT_EQ(td_dimid(id, names[d], &dimid), TD_EBADDIM);
                EXPECT_EQ(td_diminq(id, d, nullptr, &length), TD_EBADDIMID);
                EXPECT_EQ(length, -99);
                char name[TD_DIM_NAME_SIZE];
                EXPECT_EQ(td_diminq(id, d, name, nullptr), TD_EBADDIMID);
            } else {
                EXPECT_EQ(td_dimid(id, names[d], &dimid), TD_NOERR);
                EXPECT_EQ(td_diminq(id, d, nullptr, &length), TD_NOERR);
                EXPECT_EQ(length, lengths[d]);
            }
        }
        EXPECT_EQ(td_close(id), TD_NOERR);
    }
}

// -------------------------------------------------------------- variables

struct KindCase {
    std::int16_t data_id;
    std::int16_t channel;
    const char* channel_name;
    std::int16_t type;
    bool graphics;
};

TEST_F(Front, VariablesOfEveryDataKind)
{
    const std::vector<KindCase> cases{
        {tdw::kVisible, 2, "avhrr_ch2", TD_FLOAT, true},
        {tdw::kInfrared, 4, "avhrr_ch4", TD_FLOAT, true},
        {tdw::kInfrared, 207, "nlsst_split", TD_FLOAT, true},
        {tdw::kAncillary, 105, "scan_time", TD_FLOAT, false},
        {tdw::kAncillary, 301, "ocean_reflect", TD_FLOAT, false},
        {tdw::kCloud, 401, "cloud", TD_BYTE, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.channel_name);
        const int id = open_ok(write("v", description_of(c.data_id, {{"channel_number", c.channel}})));

        int varid = -1;
        EXPECT_EQ(td_varid(id, c.channel_name, &varid), TD_NOERR);
        EXPECT_EQ(varid, 0);
        // Only the dataset's own channel names the data variable.
        EXPECT_EQ(td_varid(id, c.channel == 2 ? "avhrr_ch4" : "avhrr_ch2", &varid), TD_EBADVAR);
        for (const char* bad : {"rows", "columns", "", "AVHRR_CH4", "Graphics", "data_id"})
            EXPECT_EQ(td_varid(id, bad, &varid), TD_EBADVAR) << bad;
        EXPECT_EQ(td_varid(id, nullptr, &varid), TD_EBADVAR);
        EXPECT_EQ(td_varid(id, "graphics", &varid), c.graphics ? TD_NOERR : TD_EBADVAR);
        if (c.graphics) {
            EXPECT_EQ(varid, 1);
        }

        char name[TD_VAR_NAME_SIZE];
        std::int16_t type = -1;
        int ndims = -1, natts = -1;
        int dimids[2] = {-1, -1};
        ASSERT_EQ(td_varinq(id, 0, name, &type, &ndims, dimids, &natts), TD_NOERR);
        EXPECT_STREQ(name, c.channel_name);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(ndims, 2);
        EXPECT_EQ(dimids[0], 0);
        EXPECT_EQ(dimids[1], 1);
        EXPECT_EQ(natts, TD_NUM_ATTRIBUTES);

        if (c.graphics) {
            ASSERT_EQ(td_varinq(id, 1, name, &type, &ndims, dimids, &natts), TD_NOERR);
            EXPECT_STREQ(name, "graphics");
            EXPECT_EQ(type, TD_BYTE);
            EXPECT_EQ(ndims, 2);
            EXPECT_EQ(natts, 0);
        } else {
            EXPECT_EQ(td_varinq(id, 1, name, &type, &ndims, dimids, &natts), TD_EBADVARID);
        }
        for (const int bad : {2, -1, 1000})
            EXPECT_EQ(td_varinq(id, bad, name, &type, &ndims, dimids, &natts), TD_EBADVARID);
        EXPECT_EQ(td_varinq(id, 0, nullptr, nullptr, nullptr, nullptr, nullptr), TD_NOERR);
        EXPECT_EQ(td_close(id), TD_NOERR);
    }
}

TEST_F(Front, ChannelWithoutAName)
{
    for (const std::int16_t channel : {0, 7, 106, 400, -1}) {
        SCOPED_TRACE(channel);
        const int id = open_ok(write("v", description_of(tdw::kInfrared, {{"channel_number", channel}})));
        char name[TD_VAR_NAME_SIZE];
        std::int16_t type = -1;
        EXPECT_EQ(td_varinq(id, 0, name, &type, nullptr, nullptr, nullptr), TD_ECHANNEL);
        // Without a name buffer the channel is not looked at.
        EXPECT_EQ(td_varinq(id, 0, nullptr, &type, nullptr, nullptr, nullptr), TD_NOERR);
        EXPECT_EQ(type, TD_FLOAT);
        int varid = -1;
        EXPECT_EQ(td_varid(id, "avhrr_ch4", &varid), TD_EBADVAR);
        EXPECT_EQ(td_varid(id, "graphics", &varid), TD_NOERR);
        EXPECT_EQ(td_close(id), TD_NOERR);
    }
}

// --------------------------------------------------------------- messages

TEST(Messages, EveryCodeAndUnknownOnes)
{
    const std::vector<const char*> expected{
        "no error",
        "cannot create dataset",
        "invalid creation mode",
        "cannot access dataset",
        "invalid access mode",
        "dataset not in define mode",
        "invalid dataset id",
        "call to td_enddef failed",
        "dimension already defined",
        "dimension must be greater than 0",
        "invalid dimension",
        "variable already defined (only 1 allowed)",
        "invalid data type",
        "invalid number of dimensions",
        "invalid dimension id",
        "invalid variable",
        "invalid variable id",
        "variable index is out of range",
        "variable value is out of range",
        "dataset in define mode",
        "invalid attribute",
        "invalid attribute value",
        "failed to allocate memory",
        "maximum open file limit reached",
        "cannot create, dataset exists",
        "header creation failed",
        "wrong magic number, unrecognized format",
        "cannot read magic number",
        "unknown error",
        "invalid attribute id",
        "error reading dimension",
        "error reading attribute",
        "error reading data",
        "error writing dimension",
        "error writing attribute",
        "error writing data",
        "dimension must be defined",
        "data variable must be defined",
        "internal consistency error",
        "unsupported data id in header",
        "unsupported channel number in header",
        "dataset opened read-only",
        "attribute type mismatch",
        "unsupported pixel size in header",
        "unsupported calibration type in header",
        "error manipulating uncompressed file",
        "error manipulating compressed file",
        "unsupported compression type in header",
        "error in compressed file, byte 0",
        "invalid attribute length",
        "cannot write data to file with non-zero navigational shifts",
        "attribute is read-only",
    };
    ASSERT_EQ(expected.size(), 52u);
    for (int code = 0; code < 52; ++code)
        EXPECT_STREQ(td_strerror(code), expected[static_cast<std::size_t>(code)]) << code;
    for (const int code : {-1, 52, 53, 1000, INT_MIN, INT_MAX})
        EXPECT_STREQ(td_strerror(code), "unknown error") << code;
}

} // namespace
