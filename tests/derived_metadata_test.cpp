// derived_metadata_test.cpp - what the library says a header means, over
// the one table of header cases; recognising datasets from their first
// bytes; the identity of the opened file and reads of a file changed in
// place.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "header_cases.h"
#include "library_fixture.h"

namespace {

using tdtest::description_of;

class DerivedMetadata : public tdtest::LibraryTest {};

double header_degrees(int id, const char* name)
{
    std::int16_t stored = 0;
    EXPECT_EQ(td_attget_stored(id, 0, name, &stored), TD_NOERR);
    return stored / 128.0;
}

double mercator_y(double latitude)
{
    return std::log(std::tan(M_PI / 4 + latitude * M_PI / 360));
}

// Seconds since 1970 of "YYYY-MM-DDTHH:MM:SS...", and the milliseconds
// after it (-1 without).
std::pair<std::int64_t, int> parse_iso(const std::string& text)
{
    std::tm tm{};
    int ms = -1;
    EXPECT_GE(std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d.%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                          &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &ms),
              6);
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return {static_cast<std::int64_t>(timegm(&tm)), ms};
}

void expect_grid(int id, const tdcases::HeaderCase& c)
{
    const int rows = c.desc.rows, columns = c.desc.columns;
    std::vector<double> lat(static_cast<std::size_t>(rows), -1000),
        lon(static_cast<std::size_t>(columns), -1000);
    int grid = -1;
    ASSERT_EQ(td_gridinq(id, &grid, lat.data(), lon.data()), TD_NOERR);
    ASSERT_EQ(grid, c.grid);
    if (grid == TD_GRID_NONE) {
        EXPECT_EQ(lat[0], -1000) << "arrays are left alone";
        return;
    }
    const double lat0 = header_degrees(id, "start_latitude"), lat1 = header_degrees(id, "end_latitude");
    const double lon0 = header_degrees(id, "start_longitude");
    double lon1 = header_degrees(id, "end_longitude");
    if (lon1 < lon0)
        lon1 += 360; // columns run east
    EXPECT_EQ(lat.front(), lat0);
    EXPECT_EQ(lat.back(), lat1);
    EXPECT_EQ(lon.front(), lon0);
    EXPECT_EQ(lon.back(), lon1);
    for (int i = 0; i < columns; ++i)
        EXPECT_NEAR(lon[static_cast<std::size_t>(i)], lon0 + (lon1 - lon0) * i / (columns - 1), 1e-12);
    // Linear: evenly spaced latitudes; Mercator: evenly spaced ordinates.
    const auto y = [&](double v) { return grid == TD_GRID_LINEAR ? v : mercator_y(v); };
    for (int i = 0; i < rows; ++i)
        EXPECT_NEAR(y(lat[static_cast<std::size_t>(i)]), y(lat0) + (y(lat1) - y(lat0)) * i / (rows - 1),
                    1e-12)
            << i;
}

TEST_F(DerivedMetadata, EveryHeaderCase)
{
    for (const tdcases::HeaderCase& c : tdcases::header_cases()) {
        SCOPED_TRACE(c.name);
        const int id = open_ok(write(c.name + ".tdf", c.desc));

        int kind = -1, storage = -1;
        char kind_name[TD_KIND_NAME_SIZE] = {}, storage_name[TD_STORAGE_NAME_SIZE] = {};
        ASSERT_EQ(td_kindinq(id, &kind, kind_name), TD_NOERR);
        EXPECT_STREQ(kind_name, c.kind);
        const char* const kinds[] = {"visible", "infrared", "angle", "scan time", "cloud"};
        EXPECT_STREQ(kinds[kind], c.kind);
        ASSERT_EQ(td_storageinq(id, &storage, storage_name), TD_NOERR);
        EXPECT_STREQ(storage_name, c.storage);
        const char* const storages[] = {"plain", "compressed", "unsupported"};
        EXPECT_STREQ(storages[storage], c.storage);

        char units[TD_UNITS_SIZE] = {}, long_name[TD_UNITS_SIZE] = {}, label[TD_UNITS_SIZE] = {};
        ASSERT_EQ(td_unitsinq(id, units, long_name, label), TD_NOERR);
        EXPECT_STREQ(units, c.units);
        EXPECT_STREQ(long_name, c.long_name);
        EXPECT_STREQ(label, c.label);

        std::int64_t seconds = -1;
        int millisecond = -2;
        char text[TD_TIME_TEXT_SIZE] = "untouched";
        const int time_status = td_timeinq(id, &seconds, &millisecond, text);
        if (c.time == nullptr) {
            EXPECT_EQ(time_status, TD_EBADATTVAL);
            EXPECT_STREQ(text, "untouched");
        } else {
            ASSERT_EQ(time_status, TD_NOERR);
            EXPECT_STREQ(text, c.time);
            const auto [expected_seconds, expected_ms] = parse_iso(c.time);
            EXPECT_EQ(seconds, expected_seconds);
            EXPECT_EQ(millisecond, expected_ms);
        }
        expect_grid(id, c);
        EXPECT_EQ(td_close(id), TD_NOERR);
    }
}

TEST_F(DerivedMetadata, EveryOutputIsOptionalAndIdsAreChecked)
{
    const int id = open_ok(write("d.tdf", tdcases::header_cases().front().desc));
    EXPECT_EQ(td_kindinq(id, nullptr, nullptr), TD_NOERR);
    EXPECT_EQ(td_storageinq(id, nullptr, nullptr), TD_NOERR);
    EXPECT_EQ(td_unitsinq(id, nullptr, nullptr, nullptr), TD_NOERR);
    EXPECT_EQ(td_timeinq(id, nullptr, nullptr, nullptr), TD_NOERR);
    EXPECT_EQ(td_gridinq(id, nullptr, nullptr, nullptr), TD_NOERR);
    EXPECT_EQ(td_fileinq(id, nullptr, nullptr, nullptr, nullptr, nullptr), TD_NOERR);
    for (const int bad : {-1, id + 1, TD_MAX_DATASETS}) {
        EXPECT_EQ(td_kindinq(bad, nullptr, nullptr), TD_EBADID);
        EXPECT_EQ(td_storageinq(bad, nullptr, nullptr), TD_EBADID);
        EXPECT_EQ(td_unitsinq(bad, nullptr, nullptr, nullptr), TD_EBADID);
        EXPECT_EQ(td_timeinq(bad, nullptr, nullptr, nullptr), TD_EBADID);
        EXPECT_EQ(td_gridinq(bad, nullptr, nullptr, nullptr), TD_EBADID);
        EXPECT_EQ(td_fileinq(bad, nullptr, nullptr, nullptr, nullptr, nullptr), TD_EBADID);
    }
}

// A file cut inside the orbit start fields: the fields before the cut are
// read, the time is refused for want of the rest; a cut inside the
// millisecond field only drops the milliseconds.
TEST_F(DerivedMetadata, TimeOfAFileCutShort)
{
    const tdw::DatasetDescription desc = tdcases::header_cases().front().desc;
    std::int64_t seconds = 0;
    int ms = 0;
    int id = open_ok(write("cut-120.tdf", tdw::build_truncated(desc, 120)));
    EXPECT_EQ(td_timeinq(id, &seconds, &ms, nullptr), TD_EREADATT);
    id = open_ok(write("cut-123.tdf", tdw::build_truncated(desc, 123)));
    ASSERT_EQ(td_timeinq(id, &seconds, &ms, nullptr), TD_NOERR);
    EXPECT_EQ(ms, -1);
    id = open_ok(write("cut-70.tdf", tdw::build_truncated(desc, 70)));
    EXPECT_EQ(td_storageinq(id, nullptr, nullptr), TD_EREADATT);
}

// td_identify gives td_open's status for a file of those first bytes.
TEST_F(DerivedMetadata, IdentifyFromFirstBytes)
{
    for (const tdcases::HeaderCase& c : tdcases::header_cases()) {
        const std::vector<std::uint8_t> bytes = tdw::build_dataset(c.desc);
        EXPECT_EQ(td_identify(bytes.data(), std::min<std::size_t>(bytes.size(), TD_IDENTIFY_SIZE)), TD_NOERR)
            << c.name;
    }
    const auto with = [](std::int16_t data_id, const char* field, std::int16_t value) {
        tdw::DatasetDescription desc = description_of(data_id, {{field, value}});
        return tdw::build_dataset(desc);
    };
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::size_t length; // bytes given
    };
    const std::vector<std::uint8_t> infrared = tdw::build_dataset(description_of(tdw::kInfrared));
    const std::vector<std::uint8_t> cloud = tdw::build_dataset(description_of(tdw::kCloud));
    const Case cases[] = {
        {"none", infrared, 0},
        {"magic only", infrared, 1},
        {"no pixel size", infrared, 63},
        {"pixel size", infrared, 64},
        {"cloud needs no pixel size", cloud, 52},
        {"cloud cut in data_id", cloud, 51},
        {"wrong magic", std::vector<std::uint8_t>(100, 0x44), 100},
        {"data_id 4", with(tdw::kInfrared, "data_id", 4), 72},
        {"data_id -1", with(tdw::kInfrared, "data_id", -1), 72},
        {"visible pixel size 1", with(tdw::kVisible, "channel_pixel_size", 1), 72},
        {"ancillary pixel size 4", with(tdw::kAncillary, "ancillary_pixel_size", 4), 72},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path =
            write(std::string(c.name) + ".tdf",
                  std::vector<std::uint8_t>(c.bytes.begin(), c.bytes.begin() + c.length));
        int id = -1;
        const int opened = td_open(path.c_str(), TD_READONLY, &id);
        EXPECT_EQ(td_identify(c.bytes.data(), c.length), opened);
        if (opened == TD_NOERR) {
            EXPECT_EQ(td_close(id), TD_NOERR);
        }
    }
    EXPECT_EQ(td_identify(nullptr, 72), TD_ENOMAGIC);
}

// The identity of the file opened, and reads of a file written in place
// under the open dataset: the next read fails, even when the writer set
// the modification time back (cp -p).  A file renamed over the dataset's
// name is no change: the open dataset reads the file it opened, whole.
TEST_F(DerivedMetadata, FileWrittenInPlaceFailsTheNextRead)
{
    struct Case {
        const char* name;
        bool compressed;
        bool times_restored;
        bool renamed_over;
        int status;
    };
    const Case cases[] = {
        {"plain", false, false, false, TD_EUNCOMPFILE},
        {"compressed", true, false, false, TD_ECOMPFILE},
        {"plain-times-restored", false, true, false, TD_EUNCOMPFILE},
        {"plain-renamed-over", false, false, true, TD_NOERR},
        {"compressed-renamed-over", true, false, true, TD_NOERR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tdw::DatasetDescription desc = description_of(tdw::kInfrared, {{"calibration_type", 0}});
        desc.rows = 8;
        desc.columns = 70;
        desc.compressed = c.compressed;
        desc.value = [](int r, int col) { return 1 + r + col; };
        const std::string path = write(std::string(c.name) + ".tdf", desc);
        // Written an hour ago: a write now shows in the times, whatever the
        // clock's granularity.
        const timespec past[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), past, 0), 0);
        const int id = open_ok(path);
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        std::uint64_t device = 0, inode = 0;
        std::int64_t size = 0, modified = 0;
        int changed = -1;
        ASSERT_EQ(td_fileinq(id, &device, &inode, &size, &modified, &changed), TD_NOERR);
        EXPECT_EQ(device, st.st_dev);
        EXPECT_EQ(inode, st.st_ino);
        EXPECT_EQ(size, st.st_size);
        EXPECT_EQ(modified, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec);
        EXPECT_EQ(changed, 0);

        std::vector<float> row(70);
        const std::uint32_t start[2] = {0, 0}, later[2] = {4, 0}, count[2] = {1, 70};
        ASSERT_EQ(td_varget_float(id, 0, start, count, row.data()), TD_NOERR);
        // Another dataset of the same size and layout is written over it.
        desc.value = [](int r, int col) { return 500 + r * col; };
        if (c.renamed_over) {
            ASSERT_EQ(std::rename(write("new.tdf", desc).c_str(), path.c_str()), 0);
        } else {
            const std::vector<std::uint8_t> bytes = tdw::build_dataset(desc);
            std::FILE* f = std::fopen(path.c_str(), "r+b");
            ASSERT_NE(f, nullptr);
            ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
            std::fclose(f);
        }
        if (c.times_restored) {
            ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), past, 0), 0);
        }
        EXPECT_EQ(td_varget_float(id, 0, later, count, row.data()), c.status);
        if (c.status == TD_NOERR) {
            EXPECT_EQ(row[3], 1.0f + 4 + 3 - 1) << "the raw count of the file that was opened";
        }
        EXPECT_EQ(td_varget_float(id, 0, start, count, row.data()), c.status);
        ASSERT_EQ(td_fileinq(id, nullptr, nullptr, nullptr, nullptr, &changed), TD_NOERR);
        EXPECT_EQ(changed, c.status == TD_NOERR ? 0 : 1);
        EXPECT_EQ(td_close(id), TD_NOERR);
    }
}

} // namespace
