// pool_test.cpp - the pool of datasets opened on demand: more datasets than
// slots, a limit kept, files changed while their dataset was closed
// refused, handles closed while in use.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include "library_fixture.h"

namespace {

using tdtest::description_of;

class Pool : public tdtest::LibraryTest {
protected:
    void TearDown() override
    {
        int handles = 0;
        EXPECT_EQ(td_pool_inq(nullptr, nullptr, &handles), TD_NOERR);
        EXPECT_EQ(handles, 0) << "every test closes its handles";
        td_pool_setlimit(TD_POOL_LIMIT);
        LibraryTest::TearDown();
    }

    // A dataset whose raw counts are all `value`.
    std::string dataset(const std::string& name, int value, bool compressed = false)
    {
        tdw::DatasetDescription desc = description_of(tdw::kInfrared, {{"calibration_type", 0}});
        desc.rows = 3;
        desc.columns = 70;
        desc.compressed = compressed;
        desc.value = [value](int, int) { return value + 1; };
        return write(name, desc);
    }

    // The count at row 1, column 5 through the pool, or -status.
    static float read(int handle)
    {
        int id = -1;
        if (const int s = td_pool_acquire(handle, &id); s != TD_NOERR)
            return static_cast<float>(-s);
        float row[70];
        const std::uint32_t start[2] = {1, 0}, count[2] = {1, 70};
        const int s = td_varget_float(id, 0, start, count, row);
        EXPECT_EQ(td_pool_release(handle), TD_NOERR);
        return s == TD_NOERR ? row[5] : static_cast<float>(-s);
    }

    static int open_ids()
    {
        int open = -1;
        EXPECT_EQ(td_pool_inq(nullptr, &open, nullptr), TD_NOERR);
        return open;
    }
};

TEST_F(Pool, MoreDatasetsThanSlotsWithinTheLimit)
{
    ASSERT_EQ(td_pool_setlimit(16), TD_NOERR);
    std::vector<int> handles(150);
    for (int n = 0; n < 150; ++n)
        ASSERT_EQ(td_pool_open(dataset(std::to_string(n) + ".tdf", n % 40, n % 3 == 0).c_str(), &handles[n]),
                  TD_NOERR);
    EXPECT_EQ(open_ids(), 16);
    for (int pass = 0; pass < 2; ++pass)
        for (int n = 0; n < 150; ++n) {
            EXPECT_EQ(read(handles[n]), static_cast<float>(n % 40)) << n;
            EXPECT_LE(open_ids(), 16);
        }
    // A direct open finds a slot: the pool leaves the rest of the table free.
    int id = -1;
    EXPECT_EQ(td_open(dataset("direct.tdf", 1).c_str(), TD_READONLY, &id), TD_NOERR);
    EXPECT_EQ(td_close(id), TD_NOERR);
    for (const int handle : handles)
        EXPECT_EQ(td_pool_close(handle), TD_NOERR);
    EXPECT_EQ(open_ids(), 0);
    int limit = 0;
    EXPECT_EQ(td_pool_setlimit(1000), TD_NOERR);
    EXPECT_EQ(td_pool_inq(&limit, nullptr, nullptr), TD_NOERR);
    EXPECT_EQ(limit, TD_MAX_DATASETS);
}

// A dataset the pool closed is opened again only on the file it first
// opened, unchanged.
TEST_F(Pool, ChangedFileIsNotOpenedAgain)
{
    struct Case {
        const char* name;
        bool compressed;
        const char* change; // "none", "in place", "renamed over", "removed"
        float read_again;   // a count, or -status
    };
    const Case cases[] = {
        {"unchanged", false, "none", 7.0f},
        {"in-place", false, "in place", -TD_EUNCOMPFILE},
        {"compressed-in-place", true, "in place", -TD_ECOMPFILE},
        {"renamed-over", false, "renamed over", -TD_EUNCOMPFILE},
        {"removed", false, "removed", -TD_EACCESS},
    };
    ASSERT_EQ(td_pool_setlimit(1), TD_NOERR);
    const std::string other = dataset("other.tdf", 2);
    int other_handle = -1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dataset(std::string(c.name) + ".tdf", 7, c.compressed);
        const timespec past[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), past, 0), 0);
        int handle = -1;
        ASSERT_EQ(td_pool_open(path.c_str(), &handle), TD_NOERR);
        EXPECT_EQ(read(handle), 7.0f);
        // The other dataset takes the only place in the pool.
        ASSERT_EQ(td_pool_open(other.c_str(), &other_handle), TD_NOERR);
        EXPECT_EQ(open_ids(), 1);
        const std::string change = c.change;
        if (change == "in place") {
            tdw::DatasetDescription d = description_of(tdw::kInfrared, {{"calibration_type", 0}});
            d.rows = 3;
            d.columns = 70;
            d.compressed = c.compressed;
            d.value = [](int, int) { return 10; };
            const std::vector<std::uint8_t> bytes = tdw::build_dataset(d);
            std::FILE* f = std::fopen(path.c_str(), "r+b");
            ASSERT_NE(f, nullptr);
            ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
            std::fclose(f);
        } else if (change == "renamed over") {
            ASSERT_EQ(std::rename(dataset("new.tdf", 7).c_str(), path.c_str()), 0);
        } else if (change == "removed") {
            ASSERT_EQ(std::remove(path.c_str()), 0);
        }
        EXPECT_EQ(read(handle), c.read_again);
        EXPECT_EQ(td_pool_close(handle), TD_NOERR);
        EXPECT_EQ(td_pool_close(other_handle), TD_NOERR);
    }
}

TEST_F(Pool, HandleClosedWhileInUseClosesAtTheLastRelease)
{
    int handle = -1, id = -1, again = -1;
    for (const int users : {1, 2}) {
        SCOPED_TRACE(std::to_string(users) + " users");
        ASSERT_EQ(td_pool_open(dataset("d.tdf", 3).c_str(), &handle), TD_NOERR);
        EXPECT_EQ(td_pool_release(handle), TD_EBADID) << "not acquired";
        ASSERT_EQ(td_pool_acquire(handle, &id), TD_NOERR);
        if (users == 2) {
            ASSERT_EQ(td_pool_acquire(handle, &again), TD_NOERR);
            EXPECT_EQ(again, id);
        }
        EXPECT_EQ(td_pool_close(handle), TD_NOERR);
        EXPECT_EQ(td_pool_acquire(handle, &again), TD_EBADID) << "closing: no new acquisitions";
        int kind = -1;
        for (int user = 0; user < users; ++user) {
            EXPECT_EQ(td_kindinq(id, &kind, nullptr), TD_NOERR) << "still in use";
            EXPECT_EQ(td_pool_release(handle), TD_NOERR);
        }
        EXPECT_EQ(td_kindinq(id, &kind, nullptr), TD_EBADID);
    }
    for (const int bad : {handle, -1, 12345}) {
        EXPECT_EQ(td_pool_acquire(bad, &id), TD_EBADID);
        EXPECT_EQ(td_pool_release(bad), TD_EBADID);
        EXPECT_EQ(td_pool_close(bad), TD_EBADID);
    }
    EXPECT_EQ(td_pool_open(dir.file("none.tdf").c_str(), &handle), TD_EACCESS);
}

// Slots taken by other users of the library: the pool closes what it
// holds idle to make room, and fails with 23 only when all it holds is in
// use.
TEST_F(Pool, FullTableTakesBackIdleSlotsOnly)
{
    const std::string path = dataset("d.tdf", 4);
    ASSERT_EQ(td_pool_setlimit(2), TD_NOERR);
    std::vector<int> handles(3);
    for (int& h : handles)
        ASSERT_EQ(td_pool_open(path.c_str(), &h), TD_NOERR);
    EXPECT_EQ(open_ids(), 2);
    std::vector<int> ids;
    for (int id = -1; td_open(path.c_str(), TD_READONLY, &id) == TD_NOERR;)
        ids.push_back(id);
    EXPECT_EQ(ids.size(), 98u);
    EXPECT_EQ(read(handles[0]), 4.0f) << "an idle one closed for it";
    int id = -1;
    ASSERT_EQ(td_pool_acquire(handles[0], &id), TD_NOERR);
    ASSERT_EQ(td_pool_acquire(handles[2], &id), TD_NOERR);
    EXPECT_EQ(read(handles[1]), -static_cast<float>(TD_EMAXDS)) << "both held are in use";
    EXPECT_EQ(td_pool_release(handles[0]), TD_NOERR);
    EXPECT_EQ(read(handles[1]), 4.0f) << "now one is idle";
    EXPECT_EQ(td_pool_release(handles[2]), TD_NOERR);
    for (const int i : ids)
        EXPECT_EQ(td_close(i), TD_NOERR);
    for (const int h : handles)
        EXPECT_EQ(td_pool_close(h), TD_NOERR);
}

} // namespace
