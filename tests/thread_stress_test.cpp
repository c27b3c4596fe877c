// thread_stress_test.cpp - the library from many threads at once: eight
// threads open, read and close 200 datasets at random, directly and through
// the pool, some sharing ids, and every block read must equal the serial
// read of the same dataset; a read held up inside one dataset does not hold
// up another's, and does hold up the next call on its own.  Run under
// ThreadSanitizer by make test-tsan.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "library_fixture.h"

namespace {

constexpr int kDatasets = 200;
constexpr int kThreads = 8;
constexpr int kOperations = 300;

struct Reference {
    std::string path;
    int rows = 0, columns = 0;
    std::vector<float> data;
    std::vector<std::uint8_t> graphics; // empty without a graphics variable
};

tdw::DatasetDescription dataset(int n)
{
    static constexpr std::int16_t kinds[] = {tdw::kInfrared, tdw::kVisible, tdw::kAncillary, tdw::kCloud};
    tdw::DatasetDescription desc;
    desc.data_id = kinds[n % 4];
    desc.rows = static_cast<std::int16_t>(8 + n % 13);
    desc.columns = static_cast<std::int16_t>(70 + n % 31);
    desc.compressed = desc.data_id <= tdw::kVisible && n % 3 != 0;
    desc.fields["vertical_shift"] = static_cast<std::int16_t>(n % 5 - 2);
    if (desc.data_id == tdw::kAncillary)
        desc.fields["channel_number"] = static_cast<std::int16_t>(101 + n % 5);
    desc.value = [n, kind = desc.data_id](int r, int c) {
        const int v = (r * 131 + c * 7 + n * 977) % 2047;
        return kind == tdw::kCloud ? v % 256 : kind == tdw::kAncillary ? v * 5 : v - 1000;
    };
    desc.nibble = [n](int r, int c) { return (r + c * 3 + n) % 16; };
    return desc;
}

// Reads rows [first, first + count) of a variable, or the status.
int read_rows(int id, int varid, int first, int count, int columns, std::vector<float>& out)
{
    out.assign(static_cast<std::size_t>(count) * static_cast<std::size_t>(columns), 0.0f);
    const std::uint32_t start[2] = {static_cast<std::uint32_t>(first), 0};
    const std::uint32_t size[2] = {static_cast<std::uint32_t>(count), static_cast<std::uint32_t>(columns)};
    return td_varget_float(id, varid, start, size, out.data());
}

Reference serial_read(const std::string& path)
{
    Reference ref;
    ref.path = path;
    int id = -1;
    EXPECT_EQ(td_open(path.c_str(), TD_READONLY, &id), TD_NOERR);
    EXPECT_EQ(td_diminq(id, 0, nullptr, &ref.rows), TD_NOERR);
    EXPECT_EQ(td_diminq(id, 1, nullptr, &ref.columns), TD_NOERR);
    EXPECT_EQ(read_rows(id, 0, 0, ref.rows, ref.columns, ref.data), TD_NOERR);
    int graphics = -1;
    if (td_varid(id, "graphics", &graphics) == TD_NOERR) {
        std::vector<float> planes;
        EXPECT_EQ(read_rows(id, 1, 0, ref.rows, ref.columns, planes), TD_NOERR);
        ref.graphics.assign(planes.begin(), planes.end());
    }
    EXPECT_EQ(td_close(id), TD_NOERR);
    return ref;
}

class ThreadStress : public tdtest::LibraryTest {
protected:
    void TearDown() override
    {
        td_pool_setlimit(TD_POOL_LIMIT);
        LibraryTest::TearDown();
    }
};

TEST_F(ThreadStress, EightThreadsTwoHundredDatasetsReadAsSerially)
{
    std::vector<Reference> refs;
    for (int n = 0; n < kDatasets; ++n)
        refs.push_back(serial_read(write("d" + std::to_string(n) + ".tdf", dataset(n))));
    ASSERT_FALSE(HasFailure());

    // Ids that every thread may read at the same time, and pool handles.
    std::array<int, 4> shared{};
    for (int k = 0; k < 4; ++k)
        ASSERT_EQ(td_open(refs[static_cast<std::size_t>(k * 7)].path.c_str(), TD_READONLY, &shared[k]),
                  TD_NOERR);
    ASSERT_EQ(td_pool_setlimit(12), TD_NOERR);
    std::vector<int> handles(kDatasets, -1);
    for (int n = 0; n < kDatasets; n += 5)
        ASSERT_EQ(td_pool_open(refs[static_cast<std::size_t>(n)].path.c_str(),
                               &handles[static_cast<std::size_t>(n)]),
                  TD_NOERR);

    std::atomic<int> wrong{0}, reads{0};
    std::mutex report_lock;
    std::string first_wrong;
    auto note = [&](const std::string& what) {
        ++wrong;
        const std::lock_guard hold(report_lock);
        if (first_wrong.empty())
            first_wrong = what;
    };
    // A random block of a random variable, checked against the serial read.
    auto check_read = [&](std::mt19937& rng, int id, const Reference& ref) {
        const bool planes = !ref.graphics.empty() && rng() % 3 == 0;
        const int first = static_cast<int>(rng() % static_cast<unsigned>(ref.rows));
        const int count = 1 + static_cast<int>(rng() % static_cast<unsigned>(ref.rows - first));
        std::vector<float> got;
        const int status = read_rows(id, planes ? 1 : 0, first, count, ref.columns, got);
        ++reads;
        const std::size_t at = static_cast<std::size_t>(first) * static_cast<std::size_t>(ref.columns);
        bool same = status == TD_NOERR;
        for (std::size_t i = 0; same && i < got.size(); ++i)
            same = planes ? got[i] == static_cast<float>(ref.graphics[at + i])
                          : std::memcmp(&got[i], &ref.data[at + i], sizeof(float)) == 0;
        if (!same)
            note(ref.path + (planes ? " graphics" : " data") + " rows " + std::to_string(first) + "+" +
                 std::to_string(count) + " status " + std::to_string(status));
    };

    auto worker = [&](unsigned seed) {
        std::mt19937 rng(seed);
        std::vector<std::pair<int, int>> held; // (id, dataset) opened by this thread
        for (int op = 0; op < kOperations; ++op) {
            const int n = static_cast<int>(rng() % kDatasets);
            const Reference& ref = refs[static_cast<std::size_t>(n)];
            switch (rng() % 5) {
            case 0: { // open, keep for later
                int id = -1;
                if (held.size() >= 6)
                    break;
                if (td_open(ref.path.c_str(), TD_READONLY, &id) == TD_NOERR)
                    held.emplace_back(id, n);
                else
                    note("open " + ref.path);
                break;
            }
            case 1: // read one held, sometimes close it
                if (!held.empty()) {
                    const std::size_t k = rng() % held.size();
                    check_read(rng, held[k].first, refs[static_cast<std::size_t>(held[k].second)]);
                    if (rng() % 2 == 0) {
                        if (td_close(held[k].first) != TD_NOERR)
                            note("close");
                        held.erase(held.begin() + static_cast<std::ptrdiff_t>(k));
                    }
                }
                break;
            case 2: { // a shared id
                const int k = static_cast<int>(rng() % 4);
                check_read(rng, shared[static_cast<std::size_t>(k)], refs[static_cast<std::size_t>(k * 7)]);
                break;
            }
            case 3: { // through the pool
                const int m = n - n % 5;
                int id = -1;
                if (td_pool_acquire(handles[static_cast<std::size_t>(m)], &id) != TD_NOERR) {
                    note("acquire " + refs[static_cast<std::size_t>(m)].path);
                    break;
                }
                check_read(rng, id, refs[static_cast<std::size_t>(m)]);
                if (td_pool_release(handles[static_cast<std::size_t>(m)]) != TD_NOERR)
                    note("release");
                break;
            }
            default: { // open, read, close
                int id = -1;
                if (td_open(ref.path.c_str(), TD_READONLY, &id) != TD_NOERR) {
                    note("open " + ref.path);
                    break;
                }
                check_read(rng, id, ref);
                char kind[TD_KIND_NAME_SIZE];
                if (td_kindinq(id, nullptr, kind) != TD_NOERR || td_close(id) != TD_NOERR)
                    note("kind or close " + ref.path);
            }
            }
        }
        for (const auto& [id, n] : held)
            if (td_close(id) != TD_NOERR)
                note("close at the end");
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(worker, 1000u + static_cast<unsigned>(t));
    for (std::thread& t : threads)
        t.join();

    EXPECT_EQ(wrong.load(), 0) << "first: " << first_wrong;
    EXPECT_GT(reads.load(), kThreads * kOperations / 3);
    for (const int handle : handles) {
        if (handle >= 0) {
            EXPECT_EQ(td_pool_close(handle), TD_NOERR);
        }
    }
    for (const int id : shared)
        EXPECT_EQ(td_close(id), TD_NOERR);
    int open = -1, left = -1;
    ASSERT_EQ(td_pool_inq(nullptr, &open, &left), TD_NOERR);
    EXPECT_EQ(open + left, 0);
    // Every slot is free again: a hundred opens succeed.
    int id = -1;
    for (int k = 0; k < TD_MAX_DATASETS; ++k)
        ASSERT_EQ(td_open(refs[0].path.c_str(), TD_READONLY, &id), TD_NOERR) << k;
}

// A dataset on callbacks whose reads can be held up: a read waits, once it
// is let in, until the test lets it go.
struct HeldSource {
    std::vector<std::uint8_t> bytes;
    std::mutex lock;
    std::condition_variable changed;
    bool hold = false, inside = false, released = false;

    static std::int64_t read(void* user, std::int64_t offset, void* buffer, std::size_t length)
    {
        auto* s = static_cast<HeldSource*>(user);
        {
            std::unique_lock held(s->lock);
            if (s->hold) {
                s->inside = true;
                s->changed.notify_all();
                s->changed.wait_for(held, std::chrono::seconds(30), [s] { return s->released; });
            }
        }
        const std::size_t n =
            std::min<std::size_t>(length, s->bytes.size() - static_cast<std::size_t>(offset));
        std::memcpy(buffer, s->bytes.data() + offset, n);
        return static_cast<std::int64_t>(n);
    }
    static std::int64_t size(void* user)
    {
        return static_cast<std::int64_t>(static_cast<HeldSource*>(user)->bytes.size());
    }
};

TEST_F(ThreadStress, ADatasetHeldUpHoldsUpItsOwnCallsOnly)
{
    tdw::DatasetDescription desc = dataset(0);
    HeldSource held;
    held.bytes = tdw::build_dataset(desc);
    int a = -1, b = -1;
    ASSERT_EQ(td_open_callbacks(&held, HeldSource::read, HeldSource::size, nullptr, &a), TD_NOERR);
    ASSERT_EQ(td_open(write("b.tdf", dataset(1)).c_str(), TD_READONLY, &b), TD_NOERR);
    const Reference ref_b = serial_read(dir.file("b.tdf"));
    {
        const std::lock_guard hold(held.lock);
        held.hold = true;
    }
    // A read of a that stops inside the library, in the middle of its call.
    std::vector<float> row_a;
    auto in_a = std::async(std::launch::async, [&] { return read_rows(a, 0, 0, 1, desc.columns, row_a); });
    {
        std::unique_lock wait(held.lock);
        ASSERT_TRUE(held.changed.wait_for(wait, std::chrono::seconds(30), [&] { return held.inside; }));
    }
    // Another dataset reads meanwhile; a call on a waits for the read.
    std::vector<float> row_b;
    auto in_b = std::async(std::launch::async, [&] { return read_rows(b, 0, 2, 3, ref_b.columns, row_b); });
    std::atomic<bool> kind_done{false};
    auto kind_of_a = std::async(std::launch::async, [&] {
        const int status = td_kindinq(a, nullptr, nullptr);
        kind_done = true;
        return status;
    });
    ASSERT_EQ(in_b.wait_for(std::chrono::seconds(30)), std::future_status::ready)
        << "a read of b waited for the read of a";
    EXPECT_EQ(in_b.get(), TD_NOERR);
    EXPECT_EQ(std::memcmp(row_b.data(), ref_b.data.data() + 2 * ref_b.columns, row_b.size() * sizeof(float)),
              0);
    EXPECT_FALSE(kind_done.load()) << "a call on a ran in the middle of a's read";
    {
        const std::lock_guard release(held.lock);
        held.released = true;
        held.hold = false;
    }
    held.changed.notify_all();
    EXPECT_EQ(in_a.get(), TD_NOERR);
    EXPECT_EQ(kind_of_a.get(), TD_NOERR);
    EXPECT_EQ(td_close(a), TD_NOERR);
    EXPECT_EQ(td_close(b), TD_NOERR);
}

} // namespace
