// Header attributes through td_attget_text and td_attget_short, files cut
// short and hostile headers, and the writer's own layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dataset_writer.h"
#include "library_fixture.h"
#include "run_command.h"
#include "tidewell.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Value {
    const char* name;
    std::uint16_t code;
};

enum class Kind { enumerated, plain, scaled };

struct AttributeCase {
    const char* name;
    Kind kind;
    std::vector<Value> values; // enumerated fields: the whole list
};

// The 57 attributes in attribute-number order with their kinds and lists.
const std::vector<AttributeCase>& attributes()
{
    using K = Kind;
    static const std::vector<AttributeCase> table{
        {"satellite_id",
         K::enumerated,
         {{"hesk-6", 0xD5C1},
          {"hesk-7", 0xD5C3},
          {"hesk-8", 0xD5C5},
          {"hesk-9", 0xD5C6},
          {"hesk-10", 0xD5C7},
          {"hesk-11", 0xD5C8},
          {"hesk-12", 0xD5C4},
          {"hesk-14", 0xD5D1},
          {"hesk-15", 0xD5D2},
          {"hesk-16", 0xD5D3},
          {"hesk-17", 0xD5D4}}},
        {"satellite_type", K::enumerated, {{"morning", 0}, {"afternoon", 1}}},
        {"data_set_type", K::enumerated, {{"lac", 1}, {"gac", 2}, {"hrpt", 3}}},
        {"projection_type", K::enumerated, {{"unmapped", 0}, {"mercator", 1}, {"polar", 2}, {"linear", 3}}},
        {"start_latitude", K::scaled, {}},
        {"end_latitude", K::scaled, {}},
        {"start_longitude", K::scaled, {}},
        {"end_longitude", K::scaled, {}},
        {"resolution", K::scaled, {}},
        {"polar_grid_size", K::plain, {}},
        {"polar_grid_points", K::plain, {}},
        {"polar_hemisphere", K::plain, {}},
        {"polar_prime_longitude", K::plain, {}},
        {"grid_ioffset", K::plain, {}},
        {"grid_joffset", K::plain, {}},
        {"composite_type",
         K::enumerated,
         {{"none", 0}, {"nadir", 1}, {"average", 2}, {"latest", 3}, {"warmest", 4}, {"coldest", 5}}},
        {"calibration_type", K::enumerated, {{"raw", 0}, {"albedo_temperature", 2}}},
        {"fill_type", K::enumerated, {{"none", 0}, {"average", 1}, {"adjacent", 2}}},
        {"channel_number",
         K::enumerated,
         {{"avhrr_ch1", 1},       {"avhrr_ch2", 2},      {"avhrr_ch3", 3},     {"avhrr_ch4", 4},
          {"avhrr_ch5", 5},       {"mcsst", 6},          {"scan_angle", 101},  {"sat_zenith", 102},
          {"solar_zenith", 103},  {"rel_azimuth", 104},  {"scan_time", 105},   {"mcsst_split", 201},
          {"mcsst_dual", 202},    {"mcsst_triple", 203}, {"cpsst_split", 204}, {"cpsst_dual", 205},
          {"cpsst_triple", 206},  {"nlsst_split", 207},  {"nlsst_dual", 208},  {"nlsst_triple", 209},
          {"ocean_reflect", 301}, {"turbidity", 302},    {"cloud", 401}}},
        {"data_id", K::enumerated, {{"visible", 0}, {"infrared", 1}, {"ancillary", 2}, {"cloud", 3}}},
        {"sun_normalization", K::enumerated, {{"no", 0}, {"yes", 1}}},
        {"limb_correction", K::enumerated, {{"no", 0}, {"yes", 1}}},
        {"nonlinearity_correction", K::enumerated, {{"no", 0}, {"yes", 1}}},
        {"orbits_processed", K::plain, {}},
        {"channels_produced", K::plain, {}},
        {"channel_pixel_size", K::plain, {}},
        {"channel_start_block", K::plain, {}},
        {"channel_end_block", K::plain, {}},
        {"ancillaries_produced", K::plain, {}},
        {"ancillary_pixel_size", K::plain, {}},
        {"ancillary_start_block", K::plain, {}},
        {"ancillary_end_block", K::plain, {}},
        {"image_block_size", K::plain, {}},
        {"compression_type", K::enumerated, {{"none", 0}, {"1b", 2}}},
        {"percent_non_zero", K::plain, {}},
        {"horizontal_shift", K::plain, {}},
        {"vertical_shift", K::plain, {}},
        {"horizontal_skew", K::plain, {}},
        {"vertical_skew", K::plain, {}},
        {"orbit_type", K::enumerated, {{"ascending", 0xFFFF}, {"descending", 1}}},
        {"orbit_time", K::enumerated, {{"day", 0}, {"night", 1}}},
        {"start_row", K::plain, {}},
        {"start_column", K::plain, {}},
        {"end_row", K::plain, {}},
        {"end_column", K::plain, {}},
        {"orbit_start_year", K::plain, {}},
        {"orbit_start_day", K::plain, {}},
        {"orbit_start_month_day", K::plain, {}},
        {"orbit_start_hour_minute", K::plain, {}},
        {"orbit_start_second", K::plain, {}},
        {"orbit_start_millisecond", K::plain, {}},
        {"orbit_end_year", K::plain, {}},
        {"orbit_end_day", K::plain, {}},
        {"orbit_end_month_day", K::plain, {}},
        {"orbit_end_hour_minute", K::plain, {}},
        {"orbit_end_second", K::plain, {}},
        {"orbit_end_millisecond", K::plain, {}},
    };
    return table;
}

std::optional<std::string_view> name_in(const AttributeCase& a, std::uint16_t code)
{
    for (const Value& v : a.values)
        if (v.code == code)
            return v.name;
    return std::nullopt;
}

std::uint16_t word_at(const Bytes& bytes, int offset)
{
    return static_cast<std::uint16_t>(bytes[static_cast<std::size_t>(offset)] << 8 |
                                      bytes[static_cast<std::size_t>(offset) + 1]);
}

using tdtest::description_of;

class Attributes : public tdtest::LibraryTest {
protected:
    int open_bytes(const Bytes& bytes, int& status)
    {
        const std::string path = dir.file("d");
        tdw::write_bytes(path, bytes);
        int id = -1;
        status = td_open(path.c_str(), TD_READONLY, &id);
        return id;
    }

    int open_ok(const Bytes& bytes)
    {
        int status = -1;
        const int id = open_bytes(bytes, status);
        EXPECT_EQ(status, TD_NOERR);
        return id;
    }
};

TEST_F(Attributes, FiftySevenAttributesInOffsetOrder)
{
    const auto& table = attributes();
    ASSERT_EQ(table.size(), static_cast<std::size_t>(TD_NUM_ATTRIBUTES));
    int previous = -1;
    for (const auto& a : table) {
        // The writer's independent offsets increase in attribute order.
        EXPECT_GT(tdw::field_offset(a.name), previous) << a.name;
        previous = tdw::field_offset(a.name);
    }
}

TEST_F(Attributes, ShortAndScaledFieldsThroughBothGetters)
{
    // Every short and scaled field holds a value of its own; channel_pixel_size
    // must stay 2 for the infrared dataset to open.
    tdw::DatasetDescription desc = description_of(tdw::kInfrared);
    for (const auto& a : attributes())
        if (a.kind != Kind::enumerated && std::string_view(a.name) != "channel_pixel_size")
            desc.fields[a.name] = static_cast<std::int16_t>(-3000 + 7 * tdw::field_offset(a.name));
    const Bytes bytes = tdw::build_dataset(desc);
    const int id = open_ok(bytes);

    for (const auto& a : attributes()) {
        if (a.kind == Kind::enumerated)
            continue;
        SCOPED_TRACE(a.name);
        char text[TD_ATT_TEXT_SIZE] = "untouched";
        std::int16_t value = 12345;
        EXPECT_EQ(td_attget_text(id, 0, a.name, text), TD_EATTTYPE);
        if (a.kind == Kind::scaled) {
            EXPECT_EQ(td_attget_short(id, 0, a.name, &value), TD_EATTTYPE);
        } else {
            ASSERT_EQ(td_attget_short(id, 0, a.name, &value), TD_NOERR);
            EXPECT_EQ(static_cast<std::uint16_t>(value), word_at(bytes, tdw::field_offset(a.name)));
        }
        // Attributes belong to the data variable only.
        EXPECT_EQ(td_attget_short(id, 1, a.name, &value), TD_EBADATT);
        EXPECT_EQ(td_attget_text(id, 1, a.name, text), TD_EBADATT);
        EXPECT_EQ(td_attget_short(id, 2, a.name, &value), TD_EBADVARID);
        EXPECT_EQ(td_attget_text(id, -1, a.name, text), TD_EBADVARID);
    }
    std::int16_t pixel = 0;
    EXPECT_EQ(td_attget_short(id, 0, "channel_pixel_size", &pixel), TD_NOERR);
    EXPECT_EQ(pixel, 2);
}

TEST_F(Attributes, EveryNamedValueOfEveryEnumeratedField)
{
    for (const auto& a : attributes()) {
        if (a.kind != Kind::enumerated)
            continue;
        for (const Value& v : a.values) {
            SCOPED_TRACE(std::string(a.name) + " = " + v.name);
            const Bytes bytes = tdw::build_dataset(
                description_of(tdw::kInfrared, {{a.name, static_cast<std::int16_t>(v.code)}}));
            const int id = open_ok(bytes);
            char text[TD_ATT_TEXT_SIZE];
            std::int16_t value = 0;
            ASSERT_EQ(td_attget_text(id, 0, a.name, text), TD_NOERR);
            EXPECT_STREQ(text, v.name);
            EXPECT_EQ(td_attget_short(id, 0, a.name, &value), TD_EATTTYPE);
            ASSERT_EQ(td_close(id), TD_NOERR);
        }
    }
}

struct UnnamedCase {
    const char* field;
    std::uint16_t code;
};

TEST_F(Attributes, CodesWithoutANameAndSignedFields)
{
    const std::vector<UnnamedCase> unnamed{
        {"orbit_type", 0},        {"orbit_type", 2},        {"orbit_type", 0xFFFE},
        {"calibration_type", 1},  {"compression_type", 1},  {"compression_type", 3},
        {"satellite_id", 0xD5C2}, {"satellite_id", 0xD500}, {"satellite_id", 0xD5FF},
        {"data_set_type", 0},     {"orbit_time", 2},        {"sun_normalization", 0xFFFF},
        {"channel_number", 0},    {"projection_type", 4},   {"composite_type", 6},
    };
    for (const auto& c : unnamed) {
        SCOPED_TRACE(std::string(c.field) + " " + std::to_string(c.code));
        const int id = open_ok(tdw::build_dataset(
            description_of(tdw::kInfrared, {{c.field, static_cast<std::int16_t>(c.code)}})));
        char text[TD_ATT_TEXT_SIZE];
        EXPECT_EQ(td_attget_text(id, 0, c.field, text), TD_EBADATTVAL);
        ASSERT_EQ(td_close(id), TD_NOERR);
    }

    const int id = open_ok(tdw::build_dataset(description_of(
        tdw::kInfrared,
        {{"orbit_start_year", -1}, {"grid_ioffset", -32768}, {"end_row", 32767}, {"orbit_type", -1}})));
    std::int16_t value = 0;
    EXPECT_EQ(td_attget_short(id, 0, "orbit_start_year", &value), TD_NOERR);
    EXPECT_EQ(value, -1);
    EXPECT_EQ(td_attget_short(id, 0, "grid_ioffset", &value), TD_NOERR);
    EXPECT_EQ(value, -32768);
    EXPECT_EQ(td_attget_short(id, 0, "end_row", &value), TD_NOERR);
    EXPECT_EQ(value, 32767);
    char text[TD_ATT_TEXT_SIZE];
    EXPECT_EQ(td_attget_text(id, 0, "orbit_type", text), TD_NOERR);
    EXPECT_STREQ(text, "ascending");

    // Names that are not attributes, including the dimensions and reserved words.
    for (const char* bad : {"rows", "columns", "Data_id", "data_id ", "", "reserved", "graphics"}) {
        EXPECT_EQ(td_attget_text(id, 0, bad, text), TD_EBADATT) << bad;
        EXPECT_EQ(td_attget_short(id, 0, bad, &value), TD_EBADATT) << bad;
    }
    EXPECT_EQ(td_attget_text(id, 0, nullptr, text), TD_EBADATT);
    EXPECT_EQ(td_attget_short(id, 0, nullptr, &value), TD_EBADATT);
}

TEST_F(Attributes, ValuesAreReadFromTheFileWhenAsked)
{
    // A file shorter than the header opens when the fields read at open lie
    // within it; a field beyond the end fails until the file grows.
    const tdw::DatasetDescription desc =
        description_of(tdw::kInfrared, {{"orbit_start_year", 1999}, {"orbit_type", 1}});
    const Bytes whole = tdw::build_dataset(desc);
    const std::size_t cut = 64;
    const std::string path = dir.file("short");
    tdw::write_bytes(path, Bytes(whole.begin(), whole.begin() + cut));

    int id = -1;
    ASSERT_EQ(td_open(path.c_str(), TD_READONLY, &id), TD_NOERR);
    std::int16_t year = 0;
    char text[TD_ATT_TEXT_SIZE];
    EXPECT_EQ(td_attget_short(id, 0, "orbit_start_year", &year), TD_EREADATT);
    EXPECT_EQ(td_attget_text(id, 0, "orbit_type", text), TD_EREADATT);
    int varid = -1;
    EXPECT_EQ(td_varid(id, "avhrr_ch4", &varid), TD_NOERR);

    {
        std::ofstream more(path, std::ios::binary | std::ios::app);
        more.write(reinterpret_cast<const char*>(whole.data() + cut),
                   static_cast<std::streamsize>(whole.size() - cut));
    }
    EXPECT_EQ(td_attget_short(id, 0, "orbit_start_year", &year), TD_NOERR);
    EXPECT_EQ(year, 1999);
    EXPECT_EQ(td_attget_text(id, 0, "orbit_type", text), TD_NOERR);
    EXPECT_STREQ(text, "descending");
}

// Checks every inquiry on an open dataset whose file is `length` bytes of
// `bytes`: each answer follows from which fields lie inside the file.
void check_inquiries(int id, const Bytes& bytes, std::size_t length, std::int16_t data_id)
{
    auto inside = [&](int offset) { return static_cast<std::size_t>(offset) + 2 <= length; };
    for (const auto& a : attributes()) {
        SCOPED_TRACE(a.name);
        const int offset = tdw::field_offset(a.name);
        char text[TD_ATT_TEXT_SIZE];
        std::int16_t value = 0;
        // The text getter tests the kind before it reads; the short getter reads first.
        int expected_text = TD_EATTTYPE;
        if (a.kind == Kind::enumerated)
            expected_text = !inside(offset)                      ? TD_EREADATT
                            : name_in(a, word_at(bytes, offset)) ? TD_NOERR
                                                                 : TD_EBADATTVAL;
        EXPECT_EQ(td_attget_text(id, 0, a.name, text), expected_text);
        const int expected_short = !inside(offset)         ? TD_EREADATT
                                   : a.kind != Kind::plain ? TD_EATTTYPE
                                                           : TD_NOERR;
        EXPECT_EQ(td_attget_short(id, 0, a.name, &value), expected_short);
    }
    const auto rows = static_cast<std::int16_t>(word_at(bytes, 34));
    const auto columns = static_cast<std::int16_t>(word_at(bytes, 36));
    int n = -1;
    EXPECT_EQ(td_dimid(id, "rows", &n), rows < 0 ? TD_EBADDIM : TD_NOERR);
    EXPECT_EQ(td_dimid(id, "columns", &n), columns < 0 ? TD_EBADDIM : TD_NOERR);
    int length_out = -1;
    EXPECT_EQ(td_diminq(id, 0, nullptr, &length_out), rows < 0 ? TD_EBADDIMID : TD_NOERR);
    if (rows >= 0) {
        EXPECT_EQ(length_out, rows);
    }
    EXPECT_EQ(td_diminq(id, 1, nullptr, &length_out), columns < 0 ? TD_EBADDIMID : TD_NOERR);
    if (columns >= 0) {
        EXPECT_EQ(length_out, columns);
    }

    const bool graphics = data_id == 0 || data_id == 1;
    EXPECT_EQ(td_varid(id, "graphics", &n), graphics ? TD_NOERR : TD_EBADVAR);
    char name[TD_VAR_NAME_SIZE];
    std::int16_t type = -1;
    const auto channel = word_at(bytes, 48);
    const auto channel_name = name_in(attributes()[18], channel);
    EXPECT_EQ(td_varinq(id, 0, name, &type, nullptr, nullptr, nullptr),
              channel_name ? TD_NOERR : TD_ECHANNEL);
    EXPECT_EQ(td_varinq(id, 0, nullptr, &type, nullptr, nullptr, nullptr), TD_NOERR);
    EXPECT_EQ(type, data_id == 3 ? TD_BYTE : TD_FLOAT);
    EXPECT_EQ(td_varinq(id, 1, name, &type, nullptr, nullptr, nullptr), graphics ? TD_NOERR : TD_EBADVARID);
    if (channel_name) {
        EXPECT_EQ(td_varid(id, std::string(*channel_name).c_str(), &n), TD_NOERR);
    }
}

TEST_F(Attributes, FilesCutAtEveryLength)
{
    for (const std::int16_t data_id : {tdw::kVisible, tdw::kInfrared, tdw::kAncillary, tdw::kCloud}) {
        tdw::DatasetDescription desc = description_of(
            data_id, {{"orbit_type", -1}, {"orbit_start_year", 2001}, {"orbit_end_millisecond", -5}});
        desc.value = [](int r, int c) { return r + c; };
        const Bytes whole = tdw::build_dataset(desc);
        ASSERT_GE(whole.size(), 136u);
        // Bytes a successful open must find: data_id, rows, columns and the
        // pixel size of the data kind.
        const std::size_t needed = data_id == tdw::kCloud ? 52 : data_id == tdw::kAncillary ? 72 : 64;
        for (std::size_t length = 0; length <= 140; ++length) {
            SCOPED_TRACE("data_id " + std::to_string(data_id) + " cut at " + std::to_string(length));
            const Bytes cut(whole.begin(),
                            whole.begin() + static_cast<std::ptrdiff_t>(std::min(length, whole.size())));
            int status = -1;
            const int id = open_bytes(cut, status);
            const int expected = length == 0 ? TD_ENOMAGIC : length < needed ? TD_EREADATT : TD_NOERR;
            ASSERT_EQ(status, expected);
            if (status != TD_NOERR)
                continue;
            check_inquiries(id, whole, std::min(length, whole.size()), data_id);
            ASSERT_EQ(td_close(id), TD_NOERR);
        }
    }
}

TEST_F(Attributes, HostileHeadersNeverCrash)
{
    const std::vector<std::int16_t> data_ids{-32768, -1, 0, 1, 2, 3, 4, 255, 32767};
    const std::vector<std::int16_t> lengths{-32768, -2, -1, 0, 1, 32767};
    for (const std::int16_t data_id : data_ids) {
        for (const std::int16_t rows : lengths) {
            for (const std::int16_t columns : lengths) {
                SCOPED_TRACE(std::to_string(data_id) + ": " + std::to_string(rows) + " x " +
                             std::to_string(columns));
                tdw::DatasetDescription desc = description_of(
                    tdw::kInfrared,
                    {{"data_id", data_id}, {"rows", rows}, {"columns", columns}, {"channel_number", 9}});
                const Bytes bytes = tdw::build_dataset(desc);
                int status = -1;
                const int id = open_bytes(bytes, status);
                const bool known = data_id >= 0 && data_id <= 3;
                ASSERT_EQ(status, known ? TD_NOERR : TD_EDATAID);
                if (!known)
                    continue;
                check_inquiries(id, bytes, bytes.size(), data_id);
                ASSERT_EQ(td_close(id), TD_NOERR);
            }
        }
    }
}

// ------------------------------------------------------------------ writer

TEST(Writer, PlainLayoutOfEveryDataKind)
{
    struct Case {
        std::int16_t data_id;
        int pixel;
    };
    for (const Case c :
         {Case{tdw::kInfrared, 2}, Case{tdw::kVisible, 2}, Case{tdw::kAncillary, 2}, Case{tdw::kCloud, 1}}) {
        SCOPED_TRACE(c.data_id);
        tdw::DatasetDescription desc = description_of(c.data_id);
        desc.rows = 3;
        desc.columns = 150; // W >= 150 bytes: the header fits in slot 0
        desc.value = [&](int r, int col) {
            if (c.data_id == tdw::kCloud)
                return (r * 37 + col) % 256;
            if (c.data_id == tdw::kAncillary)
                return 65535 - r * 1000 - col;
            return (col % 2 ? -1 : 1) * (r * 600 + col);
        };
        desc.nibble = [](int r, int col) { return (r + col) % 16; };
        const Bytes bytes = tdw::build_dataset(desc);
        const std::size_t width = 150u * static_cast<std::size_t>(c.pixel);
        ASSERT_EQ(bytes.size(), width * 4);
        EXPECT_EQ(word_at(bytes, 0), 0xD5D1);
        EXPECT_EQ(word_at(bytes, 50), static_cast<std::uint16_t>(c.data_id));
        EXPECT_EQ(word_at(bytes, 34), 3);
        EXPECT_EQ(word_at(bytes, 36), 150);
        EXPECT_TRUE(std::all_of(bytes.begin() + 136, bytes.begin() + static_cast<std::ptrdiff_t>(width),
                                [](std::uint8_t b) { return b == 0; }));
        for (int r = 0; r < 3; ++r) {
            for (int col = 0; col < 150; col += 7) {
                const std::size_t at =
                    width * static_cast<std::size_t>(r + 1) + static_cast<std::size_t>(col * c.pixel);
                const int value = desc.value(r, col);
                if (c.data_id == tdw::kCloud) {
                    EXPECT_EQ(bytes[at], value);
                    continue;
                }
                const std::uint16_t word = word_at(bytes, static_cast<int>(at));
                if (c.data_id == tdw::kAncillary) {
                    EXPECT_EQ(word, value);
                } else {
                    EXPECT_EQ(word >> 15, value < 0 ? 1 : 0);
                    EXPECT_EQ((word >> 4) & 0x7FF, std::abs(value));
                    EXPECT_EQ(word & 0xF, (r + col) % 16);
                }
            }
        }
    }
}

TEST(Writer, SampleWordsFieldsAndNarrowRows)
{
    EXPECT_EQ(tdw::sample_word(-1000, 5), 0xBE85);
    EXPECT_EQ(tdw::sample_word(2047, 15), 0x7FFF);
    EXPECT_EQ(tdw::sample_word(0, 0), 0);
    EXPECT_THROW(tdw::sample_word(2048, 0), std::invalid_argument);
    EXPECT_THROW(tdw::sample_word(0, 16), std::invalid_argument);

    EXPECT_EQ(tdw::field_offset("orbit_type"), 100);
    EXPECT_EQ(tdw::field_offset("columns"), 36);
    EXPECT_EQ(tdw::field_offset("reserved@92"), 92);
    for (const char* bad : {"reserved@", "reserved@-2", "reserved@x", "Rows", "nope"})
        EXPECT_THROW(tdw::field_offset(bad), std::invalid_argument) << bad;

    // Four 2-byte columns: W = 8 bytes, so the 136 header bytes cover the
    // first rows; the header wins and the file is never shorter than it.
    tdw::DatasetDescription desc = description_of(tdw::kInfrared, {{"reserved@20", 0x1234}});
    desc.value = [](int, int) { return 100; };
    Bytes bytes = tdw::build_dataset(desc);
    ASSERT_EQ(bytes.size(), 136u);
    EXPECT_EQ(word_at(bytes, 8), 0); // row 0, column 0 lies under the header
    EXPECT_EQ(word_at(bytes, 20), 0x1234);
    EXPECT_EQ(word_at(bytes, 62), 2);
    tdw::set_field(bytes, "orbit_start_year", -2);
    EXPECT_EQ(word_at(bytes, 112), 0xFFFE);
    EXPECT_THROW(tdw::set_field(bytes, "reserved@135", 1), std::out_of_range);

    EXPECT_EQ(tdw::build_truncated(desc, 10).size(), 10u);
    EXPECT_EQ(tdw::build_truncated(desc, 10000).size(), 136u);
}

} // namespace
