// Reading blocks of the data and graphics variables from real files: the
// order of the checks and their statuses, the shift of the data variable,
// and every kind of data converted to the exact float.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dataset_writer.h"
#include "library_fixture.h"
#include "registry.h"
#include "run_command.h"
#include "tidewell.h"
#include "variables.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Fields = std::map<std::string, std::int16_t, std::less<>>;

std::uint32_t bits(float f)
{
    std::uint32_t b = 0;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

std::vector<std::uint32_t> bit_patterns(const std::vector<float>& v)
{
    std::vector<std::uint32_t> out;
    for (float f : v)
        out.push_back(bits(f));
    return out;
}

class Varget : public tdtest::LibraryTest {
protected:
    // A one-row dataset holding `values` (and nibble = column % 16).  Rows
    // of a plain file narrower than the 136 header bytes lie under the
    // header, so the row is padded with zeros to `min_columns`.
    int open_row(std::int16_t data_id, const std::vector<int>& values, Fields fields = {},
                 bool compressed = false, std::size_t min_columns = 136)
    {
        tdw::DatasetDescription desc;
        desc.data_id = data_id;
        desc.rows = 1;
        desc.columns = static_cast<std::int16_t>(std::max(values.size(), min_columns));
        desc.compressed = compressed;
        desc.fields = std::move(fields);
        desc.value = [values](int, int c) {
            return std::size_t(c) < values.size() ? values[static_cast<std::size_t>(c)] : 0;
        };
        desc.nibble = [](int, int c) { return c % 16; };
        return open_spec(desc);
    }

    int open_spec(const tdw::DatasetDescription& desc) { return open_bytes(tdw::build_dataset(desc)); }

    int open_bytes(const Bytes& bytes)
    {
        const std::string path = dir.file("d" + std::to_string(files++) + ".tdf");
        tdw::write_bytes(path, bytes);
        int id = -1;
        EXPECT_EQ(td_open(path.c_str(), TD_READONLY, &id), TD_NOERR);
        return id;
    }

    static std::vector<float> floats(int id, int varid, std::uint32_t row, std::uint32_t columns,
                                     int expect = TD_NOERR)
    {
        std::vector<float> out(columns, 12345.0f);
        const std::uint32_t start[2]{row, 0}, count[2]{1, columns};
        EXPECT_EQ(td_varget_float(id, varid, start, count, out.data()), expect);
        return out;
    }

    int files = 0;
};

TEST_F(Varget, DataConversionsToTheBit)
{
    constexpr float bad = TD_BAD_VALUE;
    struct Case {
        const char* what;
        std::int16_t data_id;
        Fields fields;
        std::vector<int> stored;
        std::vector<float> expected;
    };
    const std::vector<Case> cases{
        {"infrared",
         tdw::kInfrared,
         {},
         {1, 920, 921, 983, 984, 985, 1721, 1722, 2047, 0, -5, -2047},
         {-95.149994f, -3.2499926f, -3.1499939f, -0.049993850f, 0.0f, 0.050006151f, 36.850006f, 36.950005f,
          69.450005f, bad, bad, bad}},
        {"infrared, calibration 1",
         tdw::kInfrared,
         {{"calibration_type", 1}},
         {1, 984, 2047},
         {-95.149994f, 0.0f, 69.450005f}},
        {"visible", tdw::kVisible, {}, {1, 2047, 0, -1}, {0.0f, 99.951157f, bad, bad}},
        {"raw infrared",
         tdw::kInfrared,
         {{"calibration_type", 0}},
         {1, 1024, 1025, 0, -3},
         {0.0f, 1023.0f, bad, bad, bad}},
        {"raw visible", tdw::kVisible, {{"calibration_type", 0}}, {2, 1024, 1025}, {1.0f, 1023.0f, bad}},
        {"scan angle",
         tdw::kAncillary,
         {{"channel_number", 101}},
         {1, 11521, 0, 65535},
         {0.0f, 90.0f, bad, 511.984375f}},
        {"solar zenith", tdw::kAncillary, {{"channel_number", 103}}, {129, 0}, {1.0f, bad}},
        {"scan time",
         tdw::kAncillary,
         {{"channel_number", 105}},
         {1230, 0, -1230, 2359},
         {12.5f, 0.0f, -12.5f, 23.983334f}},
        {"cloud", tdw::kCloud, {}, {0, 1, 200, 255}, {0.0f, 1.0f, 200.0f, 255.0f}},
    };
    for (const auto& c : cases) {
        const int id = open_row(c.data_id, c.stored, c.fields);
        const auto got = floats(id, 0, 0, static_cast<std::uint32_t>(c.stored.size()));
        EXPECT_EQ(bit_patterns(got), bit_patterns(c.expected)) << c.what;
        EXPECT_EQ(td_close(id), TD_NOERR);
    }
}

TEST_F(Varget, BytesAndGraphics)
{
    const std::uint32_t start[2]{0, 0}, count[2]{1, 4};
    std::vector<std::uint8_t> b(4, 99);

    const int cloud = open_row(tdw::kCloud, {7, 0, 255, 128});
    ASSERT_EQ(td_varget_byte(cloud, 0, start, count, b.data()), TD_NOERR);
    EXPECT_EQ(b, (std::vector<std::uint8_t>{7, 0, 255, 128}));

    const int ir = open_row(tdw::kInfrared, {-5, 6, 7, 8});
    ASSERT_EQ(td_varget_byte(ir, 1, start, count, b.data()), TD_NOERR);
    EXPECT_EQ(b, (std::vector<std::uint8_t>{0, 1, 2, 3}));
    EXPECT_EQ(floats(ir, 1, 0, 4), (std::vector<float>{0.0f, 1.0f, 2.0f, 3.0f}));

    std::vector<int> wide(40, 1);
    const int vis = open_row(tdw::kVisible, wide);
    std::vector<float> g = floats(vis, 1, 0, 40);
    for (std::size_t c = 0; c < g.size(); ++c)
        EXPECT_EQ(g[c], float(c % 16)) << c;
}

TEST_F(Varget, StatusesInTheirOrder)
{
    // Four columns: the samples lie under the header, which does not matter
    // here.
    const int ir = open_row(tdw::kInfrared, {1, 2, 3, 4}, {}, false, 4);
    const int vis = open_row(tdw::kVisible, {1, 2, 3, 4});
    const int anc = open_row(tdw::kAncillary, {1, 2, 3, 4});
    const int cloud = open_row(tdw::kCloud, {1, 2, 3, 4});
    const int bad_channel = open_row(tdw::kAncillary, {1, 2, 3, 4}, {{"channel_number", 106}});
    const int channel_6 = open_row(tdw::kAncillary, {1, 2, 3, 4}, {{"channel_number", 6}});
    // compression_type is not consulted for ancillary and cloud data.
    const int anc_type1 = open_row(tdw::kAncillary, {1, 2, 3, 4}, {{"compression_type", 1}});
    const int cloud_type1 = open_row(tdw::kCloud, {1, 2, 3, 4}, {{"compression_type", 1}});
    const int ir_type1 = open_row(tdw::kInfrared, {1, 2, 3, 4}, {{"compression_type", 1}});
    tdw::DatasetDescription cut;
    cut.data_id = tdw::kVisible;
    cut.columns = 4;
    const int cut_header = open_bytes(tdw::build_truncated(cut, 64)); // compression_type missing
    cut.data_id = tdw::kCloud;
    const int cut_cloud = open_bytes(tdw::build_truncated(cut, 60)); // shifts missing
    cut.data_id = tdw::kInfrared;
    cut.columns = 100;
    const int cut_data = open_bytes(tdw::build_truncated(cut, 200 * 3 + 2)); // rows 2.. missing
    const int free_slot = cut_data + 1;

    struct Case {
        const char* what;
        int id, varid;
        std::uint32_t r, c, nr, nc;
        int type;
        int status;
    };
    const Case cases[] = {
        {"id -1", -1, 0, 0, 0, 1, 1, TD_FLOAT, TD_EBADID},
        {"id 100", 100, 0, 0, 0, 1, 1, TD_FLOAT, TD_EBADID},
        {"free slot", free_slot, 0, 0, 0, 1, 1, TD_FLOAT, TD_EBADID},
        {"last row and column", ir, 0, 0, 3, 1, 1, TD_FLOAT, TD_NOERR},
        {"whole image", ir, 0, 0, 0, 1, 4, TD_FLOAT, TD_NOERR},
        {"one row more", ir, 0, 1, 0, 1, 1, TD_FLOAT, TD_EINDEX},
        {"one column more", ir, 0, 0, 1, 1, 4, TD_FLOAT, TD_EINDEX},
        {"count 0 rows", ir, 0, 0, 0, 0, 1, TD_FLOAT, TD_EINDEX},
        {"count 0 columns", ir, 0, 0, 0, 1, 0, TD_FLOAT, TD_EINDEX},
        {"count 0 further in", ir, 0, 0, 1, 1, 0, TD_FLOAT, TD_NOERR},
        {"count 0 further in, bytes of infrared", ir, 0, 0, 1, 1, 0, TD_BYTE, TD_ERANGE},
        {"count 0 past the end", ir, 0, 0, 4, 1, 0, TD_FLOAT, TD_EINDEX},
        {"start + count wraps", ir, 0, 0, 2, 1, 0xFFFFFFFFu, TD_FLOAT, TD_EINDEX},
        {"bounds before the variable id", ir, 7, 1, 0, 1, 1, TD_FLOAT, TD_EINDEX},
        {"variable 2", ir, 2, 0, 0, 1, 1, TD_FLOAT, TD_EBADVARID},
        {"variable -1", ir, -1, 0, 0, 1, 1, TD_FLOAT, TD_EBADVARID},
        {"graphics of ancillary", anc, 1, 0, 0, 1, 1, TD_FLOAT, TD_EBADVARID},
        {"graphics of cloud", cloud, 1, 0, 0, 1, 1, TD_BYTE, TD_EBADVARID},
        {"bytes of infrared", ir, 0, 0, 0, 1, 1, TD_BYTE, TD_ERANGE},
        {"bytes of visible", vis, 0, 0, 0, 1, 1, TD_BYTE, TD_ERANGE},
        {"bytes of ancillary", anc, 0, 0, 0, 1, 1, TD_BYTE, TD_ERANGE},
        {"type 5 of cloud", cloud, 0, 0, 0, 1, 1, 5, TD_ERANGE},
        {"type 5 of graphics", ir, 1, 0, 0, 1, 1, 5, TD_ERANGE},
        {"channel 106", bad_channel, 0, 0, 0, 1, 1, TD_FLOAT, TD_ECHANNEL},
        {"channel 6", channel_6, 0, 0, 0, 1, 1, TD_FLOAT, TD_ECHANNEL},
        {"ancillary, compression 1", anc_type1, 0, 0, 0, 1, 4, TD_FLOAT, TD_NOERR},
        {"cloud, compression 1", cloud_type1, 0, 0, 0, 1, 4, TD_BYTE, TD_NOERR},
        {"infrared, compression 1, data", ir_type1, 0, 0, 0, 1, 1, TD_FLOAT, TD_ECOMPTYPE},
        {"infrared, compression 1, graphics", ir_type1, 1, 0, 0, 1, 1, TD_BYTE, TD_ECOMPTYPE},
        {"compression 1 before variable id", ir_type1, 2, 0, 0, 1, 1, TD_FLOAT, TD_ECOMPTYPE},
        {"compression type cut off", cut_header, 0, 0, 0, 1, 1, TD_FLOAT, TD_EREADATT},
        {"shifts cut off", cut_cloud, 0, 0, 0, 1, 1, TD_BYTE, TD_EREADATT},
        {"graphics need no shift", cut_data, 1, 0, 0, 1, 4, TD_BYTE, TD_NOERR},
        {"data cut off", cut_data, 0, 2, 0, 1, 4, TD_FLOAT, TD_EREADDATA},
    };
    std::vector<float> out(16);
    for (const auto& c : cases) {
        const td::Index2 start{c.r, c.c}, count{c.nr, c.nc};
        EXPECT_EQ(td::varget_id(c.id, c.varid, start, count, out.data(), c.type), c.status) << c.what;
    }

    // Define mode comes after the id and before the bounds.
    td::find_dataset(ir)->define_flag = 1;
    const td::Index2 start{9, 9}, count{1, 1};
    EXPECT_EQ(td::varget_id(ir, 0, start, count, out.data(), TD_FLOAT), TD_EINDEFINE);
    td::find_dataset(ir)->define_flag = 0;
}

TEST_F(Varget, HostileDimensionsRefuseEveryBlock)
{
    for (const std::int16_t rows : {0, -1, -5, -32768}) {
        tdw::DatasetDescription desc;
        desc.data_id = tdw::kInfrared;
        desc.rows = 2;
        desc.columns = 3;
        desc.fields = {{"rows", rows}};
        const int id = open_spec(desc);
        std::vector<float> out(4);
        const std::uint32_t start[2]{0, 0}, count[2]{1, 1};
        EXPECT_EQ(td_varget_float(id, 0, start, count, out.data()), TD_EINDEX) << rows;
        EXPECT_EQ(td_close(id), TD_NOERR);
    }
}

TEST_F(Varget, ShiftMovesTheDataVariableOnly)
{
    tdw::DatasetDescription desc;
    desc.data_id = tdw::kInfrared;
    desc.rows = 3;
    desc.columns = 70;
    desc.fields = {{"calibration_type", 0}, {"vertical_shift", 1}, {"horizontal_shift", -3}};
    desc.value = [](int r, int c) { return 1 + 100 * r + c; }; // raw count 100r + c
    desc.nibble = [](int r, int c) { return (r + c) % 16; };
    constexpr float bad = TD_BAD_VALUE;
    std::vector<float> row2, graphics0;
    for (int c = 0; c < 70; ++c) {
        row2.push_back(c + 3 < 70 ? float(100 + c + 3) : bad);
        graphics0.push_back(float(c % 16));
    }
    for (const bool compressed : {false, true}) {
        desc.compressed = compressed;
        const int id = open_spec(desc);
        // Row 0 shows nothing stored: zero samples, the bad value.
        EXPECT_EQ(bit_patterns(floats(id, 0, 0, 70)), bit_patterns(std::vector<float>(70, bad)));
        // Row 2 shows stored row 1 from column 3 on, then zeros.
        EXPECT_EQ(bit_patterns(floats(id, 0, 2, 70)), bit_patterns(row2));
        EXPECT_EQ(floats(id, 1, 0, 70), graphics0);
        EXPECT_EQ(td_close(id), TD_NOERR);
    }

    // Scan time has no missing value: outside the image it is 0 hours.
    desc.compressed = false;
    desc.data_id = tdw::kAncillary;
    desc.fields = {{"channel_number", 105}, {"vertical_shift", 1}};
    desc.value = [](int, int) { return 1230; };
    const int id = open_spec(desc);
    EXPECT_EQ(floats(id, 0, 0, 70), std::vector<float>(70, 0.0f));
    EXPECT_EQ(floats(id, 0, 1, 70), std::vector<float>(70, 12.5f));
}

TEST_F(Varget, FirstReadOfEitherVariableIndexesTheStream)
{
    const std::vector<int> values{1, 500, -3, 2047, 984, 2};
    for (const int first_varid : {0, 1}) {
        const int id = open_row(tdw::kInfrared, values, {}, true);
        const auto ds = td::find_dataset(id);
        EXPECT_FALSE(ds->row_index.built());
        floats(id, first_varid, 0, 6);
        EXPECT_TRUE(ds->row_index.built());
        EXPECT_FALSE(ds->expanded);
        const auto data = floats(id, 0, 0, 6);
        EXPECT_EQ(bit_patterns(data),
                  bit_patterns({-95.149994f, -45.249992f, TD_BAD_VALUE, 69.450005f, 0.0f, -95.049995f}));
        EXPECT_EQ(floats(id, 1, 0, 6), (std::vector<float>{0, 1, 2, 3, 4, 5}));
        EXPECT_EQ(td_close(id), TD_NOERR);
    }
}

} // namespace
