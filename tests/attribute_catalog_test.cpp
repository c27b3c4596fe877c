// td_attinq and td_attget_stored: the attribute listing of the td_
// interface, checked against the writer's own knowledge of the header.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "dataset_writer.h"
#include "run_command.h"
#include "tidewell.h"

namespace {

// Opens a dataset for one test and closes it at the end.
class Opened {
public:
    explicit Opened(const std::string& path) { status_ = td_open(path.c_str(), TD_READONLY, &id_); }
    ~Opened()
    {
        if (status_ == TD_NOERR)
            static_cast<void>(td_close(id_));
    }
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;
    int status() const { return status_; }
    int id() const { return id_; }

private:
    int status_ = -1;
    int id_ = -1;
};

struct Listed {
    std::string name;
    std::int16_t kind;
    std::int16_t scale;
};

std::vector<Listed> list_attributes(int id)
{
    std::vector<Listed> listed;
    for (int number = 0; number < TD_NUM_ATTRIBUTES; ++number) {
        std::array<char, TD_ATT_NAME_SIZE + 8> name;
        name.fill('#');
        std::int16_t kind = -1;
        std::int16_t scale = -1;
        EXPECT_EQ(td_attinq(id, 0, number, name.data(), &kind, &scale), TD_NOERR) << number;
        // The name and its terminator fit the documented buffer.
        EXPECT_NE(std::memchr(name.data(), '\0', TD_ATT_NAME_SIZE), nullptr) << number;
        listed.push_back({name.data(), kind, scale});
    }
    return listed;
}

TEST(AttributeCatalog, ListsEveryAttributeInHeaderOrderWithKindAndScale)
{
    tdtest::TempDir dir;
    const std::string path = dir.file("ir.tdf");
    tdw::write_dataset(path, {});
    Opened ds(path);
    ASSERT_EQ(ds.status(), TD_NOERR);
    const auto listed = list_attributes(ds.id());
    ASSERT_EQ(listed.size(), 57u);

    int previous_offset = -1;
    int counts[4] = {0, 0, 0, 0};
    for (const Listed& a : listed) {
        // Every name is a header field the writer knows, in offset order.
        const int offset = tdw::field_offset(a.name);
        EXPECT_GT(offset, previous_offset) << a.name;
        previous_offset = offset;
        ASSERT_GE(a.kind, 1);
        ASSERT_LE(a.kind, 3);
        ++counts[a.kind];

        // The kind agrees with what the typed getters accept.
        std::array<char, TD_ATT_TEXT_SIZE> text{};
        std::int16_t value = 0;
        const int as_text = td_attget_text(ds.id(), 0, a.name.c_str(), text.data());
        const int as_short = td_attget_short(ds.id(), 0, a.name.c_str(), &value);
        switch (a.kind) {
        case TD_ATT_ENUMERATED:
            EXPECT_TRUE(as_text == TD_NOERR || as_text == TD_EBADATTVAL) << a.name;
            EXPECT_EQ(as_short, TD_EATTTYPE) << a.name;
            EXPECT_EQ(a.scale, 0) << a.name;
            break;
        case TD_ATT_SHORT:
            EXPECT_EQ(as_text, TD_EATTTYPE) << a.name;
            EXPECT_EQ(as_short, TD_NOERR) << a.name;
            EXPECT_EQ(a.scale, 0) << a.name;
            break;
        case TD_ATT_SCALED:
            EXPECT_EQ(as_text, TD_EATTTYPE) << a.name;
            EXPECT_EQ(as_short, TD_EATTTYPE) << a.name;
            const bool angle = a.name.ends_with("_latitude") || a.name.ends_with("_longitude");
            EXPECT_EQ(a.scale, angle ? 128 : 100) << a.name;
            EXPECT_TRUE(angle || a.name == "resolution") << a.name;
            break;
        }
    }
    EXPECT_EQ(counts[TD_ATT_ENUMERATED], 15);
    EXPECT_EQ(counts[TD_ATT_SHORT], 37);
    EXPECT_EQ(counts[TD_ATT_SCALED], 5);
    EXPECT_EQ(listed.front().name, "satellite_id");
    EXPECT_EQ(listed.back().name, "orbit_end_millisecond");

    // Every output is optional.
    EXPECT_EQ(td_attinq(ds.id(), 0, 4, nullptr, nullptr, nullptr), TD_NOERR);
}

TEST(AttributeCatalog, RefusesBadIdsVariablesAndNumbers)
{
    tdtest::TempDir dir;
    const std::string path = dir.file("ir.tdf");
    tdw::write_dataset(path, {});
    Opened ds(path);
    ASSERT_EQ(ds.status(), TD_NOERR);
    int closed = -1;
    ASSERT_EQ(td_open(path.c_str(), TD_READONLY, &closed), TD_NOERR);
    ASSERT_EQ(td_close(closed), TD_NOERR);

    struct Case {
        const char* what;
        int id;
        int varid;
        int attnum;
        const char* name;
        int inq_status;
        int stored_status;
    };
    const int id = ds.id();
    const Case cases[] = {
        {"id -1", -1, 0, 0, "data_id", TD_EBADID, TD_EBADID},
        {"id 100", 100, 0, 0, "data_id", TD_EBADID, TD_EBADID},
        {"closed id", closed, 0, 0, "data_id", TD_EBADID, TD_EBADID},
        {"graphics variable", id, 1, 0, "data_id", TD_EBADATT, TD_EBADATT},
        {"variable 2", id, 2, 0, "data_id", TD_EBADVARID, TD_EBADVARID},
        {"variable -1", id, -1, 0, "data_id", TD_EBADVARID, TD_EBADVARID},
        {"number -1", id, 0, -1, "Data_id", TD_EBADATTID, TD_EBADATT},
        {"number 57", id, 0, 57, "rows", TD_EBADATTID, TD_EBADATT},
        {"valid", id, 0, 56, "orbit_end_millisecond", TD_NOERR, TD_NOERR},
    };
    for (const Case& c : cases) {
        std::array<char, TD_ATT_NAME_SIZE> name{};
        std::int16_t kind = 0;
        std::int16_t scale = 0;
        std::int16_t value = 0;
        EXPECT_EQ(td_attinq(c.id, c.varid, c.attnum, name.data(), &kind, &scale), c.inq_status) << c.what;
        EXPECT_EQ(td_attget_stored(c.id, c.varid, c.name, &value), c.stored_status) << c.what;
    }
    std::int16_t value = 0;
    EXPECT_EQ(td_attget_stored(id, 0, nullptr, &value), TD_EBADATT);
}

// Every attribute holds a distinct stored value; td_attget_stored gives it
// back whatever the kind, in the plain form, in the compressed form, and
// after a data read of a compressed dataset.
TEST(AttributeCatalog, StoredValuesOfEveryKind)
{
    tdtest::TempDir dir;
    std::vector<Listed> listed;
    {
        const std::string probe = dir.file("probe.tdf");
        tdw::write_dataset(probe, {});
        Opened ds(probe);
        ASSERT_EQ(ds.status(), TD_NOERR);
        listed = list_attributes(ds.id());
    }
    // Fields the open depends on keep their values.
    auto expected = [](const std::string& name, int number) -> std::int16_t {
        if (name == "data_id")
            return tdw::kInfrared;
        if (name == "channel_pixel_size")
            return 2;
        if (name == "compression_type")
            return 2;
        if (name == "channel_number")
            return 4;
        if (name == "calibration_type")
            return 2;
        if (name == "satellite_id")
            return static_cast<std::int16_t>(0xD5FF); // magic byte, unnamed code
        return static_cast<std::int16_t>(number % 2 ? -(number * 331) : number * 577);
    };
    tdw::DatasetDescription desc;
    desc.rows = 3;
    desc.columns = 5;
    desc.compressed = true;
    desc.value = [](int r, int c) { return 100 * r + c; };
    for (int i = 0; i < TD_NUM_ATTRIBUTES; ++i)
        desc.fields[listed[static_cast<std::size_t>(i)].name] =
            expected(listed[static_cast<std::size_t>(i)].name, i);
    tdw::DatasetDescription plain = desc;
    plain.compressed = false;
    plain.fields["compression_type"] = 0;

    struct Form {
        const char* what;
        tdw::DatasetDescription desc;
        bool read_data_first;
    };
    const Form forms[] = {
        {"plain", plain, false}, {"compressed", desc, false}, {"compressed, after a data read", desc, true}};
    for (const Form& form : forms) {
        const std::string path = dir.file("all.tdf");
        tdw::write_dataset(path, form.desc);
        Opened ds(path);
        ASSERT_EQ(ds.status(), TD_NOERR) << form.what;
        if (form.read_data_first) {
            const std::uint32_t start[2] = {0, 0};
            const std::uint32_t count[2] = {1, 5};
            float row[5];
            ASSERT_EQ(td_varget_float(ds.id(), 0, start, count, row), TD_NOERR) << form.what;
        }
        for (int i = 0; i < TD_NUM_ATTRIBUTES; ++i) {
            const std::string& name = listed[static_cast<std::size_t>(i)].name;
            std::int16_t value = 0;
            ASSERT_EQ(td_attget_stored(ds.id(), 0, name.c_str(), &value), TD_NOERR)
                << form.what << " " << name;
            EXPECT_EQ(value, form.desc.fields.at(name)) << form.what << " " << name;
        }
    }
}

TEST(AttributeCatalog, StoredValueBeyondTheEndOfACutFileFailsWithReadError)
{
    tdtest::TempDir dir;
    const std::string path = dir.file("cut.tdf");
    tdw::DatasetDescription desc;
    desc.fields["ancillary_pixel_size"] = 77;
    // 72 bytes: everything the open reads, but not ancillary_start_block (72).
    tdw::write_bytes(path, tdw::build_truncated(desc, 72));
    Opened ds(path);
    ASSERT_EQ(ds.status(), TD_NOERR);
    std::int16_t value = 0;
    EXPECT_EQ(td_attget_stored(ds.id(), 0, "ancillary_pixel_size", &value), TD_NOERR);
    EXPECT_EQ(value, 77);
    EXPECT_EQ(td_attget_stored(ds.id(), 0, "ancillary_start_block", &value), TD_EREADATT);
    EXPECT_EQ(td_attget_stored(ds.id(), 0, "orbit_end_millisecond", &value), TD_EREADATT);
    // The listing itself reads nothing and still works.
    EXPECT_EQ(td_attinq(ds.id(), 0, 56, nullptr, nullptr, nullptr), TD_NOERR);
}

} // namespace
