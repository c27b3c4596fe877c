// Datasets opened on caller callbacks (td_open_callbacks) against the same
// bytes opened by path: every answer, value and status the same, for whole
// sources and for sources that end early, read short, fail or claim more
// bytes than asked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dataset_writer.h"
#include "library_fixture.h"
#include "tidewell.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// How a source behaves from byte `cut` on.
enum class Source {
    shorter,    // the data is only `cut` bytes long, and says so
    short_read, // the size is the whole length, but reads end at `cut`
    failing,    // the size is the whole length, and reads from `cut` on fail
    overlong,   // as failing, the reads claiming a byte more than asked
    dribble,    // the whole data, at most 7 bytes a call
};

struct Memory {
    Bytes bytes;
    std::size_t cut = 0;
    Source kind = Source::shorter;
    int reads = 0;
    int closes = 0;
    std::int64_t resized = -2; // from now on the size reported (-2: none)
};

std::int64_t read_memory(void* user, std::int64_t offset, void* buffer, std::size_t length)
{
    auto& m = *static_cast<Memory*>(user);
    ++m.reads;
    const auto at = static_cast<std::size_t>(offset);
    std::size_t end = m.kind == Source::dribble ? m.bytes.size() : m.cut;
    if (at >= end)
        return m.kind == Source::failing ? -1 : m.kind == Source::overlong ? std::int64_t(length) + 1 : 0;
    std::size_t n = std::min(length, end - at);
    if (m.kind == Source::dribble)
        n = std::min<std::size_t>(n, 7);
    std::memcpy(buffer, m.bytes.data() + at, n);
    return static_cast<std::int64_t>(n);
}

std::int64_t size_memory(void* user)
{
    const auto& m = *static_cast<Memory*>(user);
    if (m.resized != -2)
        return m.resized;
    return static_cast<std::int64_t>(m.kind == Source::shorter ? m.cut : m.bytes.size());
}

void close_memory(void* user)
{
    ++static_cast<Memory*>(user)->closes;
}

// A short digest of a buffer, so that outcomes stay readable.
std::string digest(const void* data, std::size_t n)
{
    std::uint64_t h = 1469598103934665603ull;
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 1099511628211ull;
    return std::to_string(h);
}

// Everything a reader asks of a dataset, one line an answer: the open, the
// inquiries, every row of both variables and a shifted-in-place window.
std::vector<std::string> outcome(int open_status, int id)
{
    std::vector<std::string> lines{"open " + std::to_string(open_status)};
    if (open_status != TD_NOERR)
        return lines;
    int rows = 0, columns = 0;
    char name[TD_VAR_NAME_SIZE] = "", text[TD_ATT_TEXT_SIZE] = "";
    std::int16_t type = -1, year = 0;
    // Each call before its results are put into words.
    const int rows_status = td_diminq(id, 0, nullptr, &rows);
    const int columns_status = td_diminq(id, 1, nullptr, &columns);
    const int varinq_status = td_varinq(id, 0, name, &type, nullptr, nullptr, nullptr);
    const int text_status = td_attget_text(id, 0, "data_id", text);
    const int year_status = td_attget_short(id, 0, "orbit_start_year", &year);
    lines.push_back("diminq " + std::to_string(rows_status) + " " + std::to_string(columns_status) + " " +
                    std::to_string(rows) + "x" + std::to_string(columns));
    lines.push_back("varinq " + std::to_string(varinq_status) + " " + name + " " + std::to_string(type));
    lines.push_back("data_id " + std::to_string(text_status) + " " + text);
    lines.push_back("year " + std::to_string(year_status) + " " + std::to_string(year));
    if (rows <= 0 || columns <= 0)
        return lines;
    std::vector<float> values(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows));
    std::vector<std::uint8_t> planes(values.size());
    for (int r = 0; r < rows; ++r) {
        const std::uint32_t start[2]{static_cast<std::uint32_t>(r), 0};
        const std::uint32_t count[2]{1, static_cast<std::uint32_t>(columns)};
        const int s0 = td_varget_float(id, 0, start, count, values.data());
        const int s1 = td_varget_byte(id, 1, start, count, planes.data());
        lines.push_back("row " + std::to_string(r) + " " + std::to_string(s0) + " " +
                        (s0 == TD_NOERR ? digest(values.data(), count[1] * sizeof(float)) : "-") + " " +
                        std::to_string(s1) + " " + (s1 == TD_NOERR ? digest(planes.data(), count[1]) : "-"));
    }
    const std::uint32_t start[2]{1, 3};
    const std::uint32_t count[2]{static_cast<std::uint32_t>(rows - 2),
                                 static_cast<std::uint32_t>(columns - 5)};
    const int s = td_varget_float(id, 0, start, count, values.data());
    lines.push_back(
        "window " + std::to_string(s) + " " +
        (s == TD_NOERR ? digest(values.data(), std::size_t{count[0]} * count[1] * sizeof(float)) : "-"));
    return lines;
}

class Callbacks : public tdtest::LibraryTest {
protected:
    std::vector<std::string> by_path(const Bytes& bytes)
    {
        const std::string path = write("p" + std::to_string(files_++) + ".tdf", bytes);
        int id = -1;
        const int status = td_open(path.c_str(), TD_READONLY, &id);
        std::vector<std::string> lines = outcome(status, id);
        if (status == TD_NOERR) {
            EXPECT_EQ(td_close(id), TD_NOERR);
        }
        return lines;
    }

    std::vector<std::string> by_callbacks(Memory& m)
    {
        int id = -1;
        const int status = td_open_callbacks(&m, read_memory, size_memory, close_memory, &id);
        std::vector<std::string> lines = outcome(status, id);
        if (status == TD_NOERR) {
            EXPECT_EQ(m.closes, 0);
            EXPECT_EQ(td_close(id), TD_NOERR);
            EXPECT_EQ(td_close(id), TD_EBADID);
        }
        // Closed once after a successful open, never after a failed one.
        EXPECT_EQ(m.closes, status == TD_NOERR ? 1 : 0);
        return lines;
    }

private:
    int files_ = 0;
};

tdw::DatasetDescription scene(std::int16_t data_id, int rows, int columns, bool compressed)
{
    tdw::DatasetDescription desc;
    desc.data_id = data_id;
    desc.rows = static_cast<std::int16_t>(rows);
    desc.columns = static_cast<std::int16_t>(columns);
    desc.compressed = compressed;
    desc.fields["orbit_start_year"] = 2024;
    desc.value = [data_id](int r, int c) {
        return data_id == tdw::kCloud ? (r * 37 + c) % 256 : (r * 37 + c * c) % 1800 - 300;
    };
    desc.nibble = [](int r, int c) { return (c / 50 + r) % 16; };
    return desc;
}

// For every dataset and every place a source may end, a callback source
// that ends there (however it ends) answers exactly as a file cut there.
TEST_F(Callbacks, AnswerAsAFileOfTheSameBytes)
{
    struct Case {
        const char* what;
        Bytes bytes;
    };
    const std::vector<Case> datasets{
        {"plain infrared, rows wider than the header block",
         tdw::build_dataset(scene(tdw::kInfrared, 9, 700, false))},
        {"compressed infrared", tdw::build_dataset(scene(tdw::kInfrared, 9, 700, true))},
        {"compressed visible, narrow rows", tdw::build_dataset(scene(tdw::kVisible, 12, 40, true))},
        {"cloud", tdw::build_dataset(scene(tdw::kCloud, 6, 300, false))},
    };
    for (const Case& c : datasets) {
        const std::size_t n = c.bytes.size();
        // Empty, the magic byte alone, inside the header fields, inside the
        // header block, inside the data (or compressed stream), one byte short,
        // whole.
        for (const std::size_t cut :
             {std::size_t{0}, std::size_t{1}, std::size_t{40}, std::size_t{300}, n / 2, n - 1, n}) {
            const Bytes head(c.bytes.begin(), c.bytes.begin() + static_cast<std::ptrdiff_t>(cut));
            const std::vector<std::string> expected = by_path(head);
            for (const Source kind :
                 {Source::shorter, Source::short_read, Source::failing, Source::overlong, Source::dribble}) {
                if (kind == Source::dribble && cut != n)
                    continue;
                SCOPED_TRACE(std::string(c.what) + ", cut at " + std::to_string(cut) + " of " +
                             std::to_string(n) + ", source kind " + std::to_string(static_cast<int>(kind)));
                Memory m{c.bytes, cut, kind, 0, 0};
                EXPECT_EQ(by_callbacks(m), expected);
            }
        }
    }
}

// A whole source answers with status 0 everywhere: the comparison above is
// not between two failures.
TEST_F(Callbacks, WholeSourcesReadEveryRow)
{
    for (const bool compressed : {false, true}) {
        Memory m{tdw::build_dataset(scene(tdw::kInfrared, 9, 700, compressed)), 0, Source::dribble, 0, 0};
        const std::vector<std::string> lines = by_callbacks(m);
        ASSERT_EQ(lines.size(), 5u + 9u + 1u);
        EXPECT_EQ(lines[0], "open 0");
        EXPECT_EQ(lines[1], "diminq 0 0 9x700");
        EXPECT_EQ(lines[3], "data_id 0 infrared");
        EXPECT_EQ(lines[4], "year 0 2024");
        for (std::size_t i = 5; i < lines.size(); ++i)
            EXPECT_EQ(lines[i].find(" -"), std::string::npos) << lines[i];
    }
}

// A source whose size is no longer the one it had at the open has changed:
// its reads fail as those of a file written in place, and td_fileinq says
// so.  A size that cannot be told is no change.
TEST_F(Callbacks, ChangedSizeFailsTheReads)
{
    struct Case {
        bool compressed;
        std::int64_t delta; // added to the size reported, or -1 for "cannot be told"
        int status;
    };
    for (const Case c :
         {Case{false, -100, TD_EUNCOMPFILE}, Case{false, 1, TD_EUNCOMPFILE}, Case{true, -1000, TD_ECOMPFILE},
          Case{true, 10, TD_ECOMPFILE}, Case{false, 0, TD_NOERR}, Case{true, 0, TD_NOERR}}) {
        for (const bool unknown : {false, true}) {
            SCOPED_TRACE(std::to_string(c.compressed) + " " + std::to_string(c.delta) + " " +
                         std::to_string(unknown));
            Memory m{tdw::build_dataset(scene(tdw::kInfrared, 9, 700, c.compressed)), 0, Source::dribble, 0,
                     0};
            int id = -1;
            ASSERT_EQ(td_open_callbacks(&m, read_memory, size_memory, close_memory, &id), TD_NOERR);
            const auto size = static_cast<std::int64_t>(m.bytes.size());
            m.resized = unknown ? -1 : size + c.delta;
            std::vector<float> row(700);
            const std::uint32_t start[2]{4, 0}, count[2]{1, 700};
            EXPECT_EQ(td_varget_float(id, 0, start, count, row.data()), unknown ? TD_NOERR : c.status);
            std::int64_t opened = 0;
            int changed = -1;
            EXPECT_EQ(td_fileinq(id, nullptr, nullptr, &opened, nullptr, &changed), TD_NOERR);
            EXPECT_EQ(opened, size);
            EXPECT_EQ(changed, !unknown && c.status != TD_NOERR ? 1 : 0);
            EXPECT_EQ(td_close(id), TD_NOERR);
        }
    }
}

// Through the pool: sources opened again after the pool closed their
// datasets to make room read the same values; one whose size changed
// meanwhile is refused; each source is closed once, when its handle is.
TEST_F(Callbacks, PoolOpensSourcesAgain)
{
    ASSERT_EQ(td_pool_setlimit(2), TD_NOERR);
    std::vector<Memory> sources;
    for (int k = 0; k < 5; ++k) {
        tdw::DatasetDescription desc = scene(tdw::kInfrared, 9, 700, k % 2 == 1);
        desc.value = [k](int r, int c) { return 100 * k + r + c % 7; };
        sources.push_back(Memory{tdw::build_dataset(desc), 0, Source::dribble, 0, 0});
    }
    std::vector<int> handles(sources.size(), -1);
    Memory empty{{}, 0, Source::shorter, 0, 0};
    int refused = -1;
    EXPECT_EQ(td_pool_open_callbacks(&empty, read_memory, size_memory, close_memory, &refused), TD_ENOMAGIC);
    EXPECT_EQ(empty.closes, 0);
    for (std::size_t k = 0; k < sources.size(); ++k)
        ASSERT_EQ(td_pool_open_callbacks(&sources[k], read_memory, size_memory, close_memory, &handles[k]),
                  TD_NOERR);
    sources[3].resized = 12345;
    // Row 2, column 3 of each source, as first read.
    std::vector<float> first(sources.size(), 0.0f);
    for (int round = 0; round < 2; ++round)
        for (std::size_t k = 0; k < sources.size(); ++k) {
            SCOPED_TRACE("source " + std::to_string(k) + " round " + std::to_string(round));
            int id = -1;
            const int status = td_pool_acquire(handles[k], &id);
            if (k == 3) {
                EXPECT_EQ(status, TD_ECOMPFILE);
                continue;
            }
            ASSERT_EQ(status, TD_NOERR);
            float value = 0;
            const std::uint32_t start[2]{2, 3}, count[2]{1, 1};
            EXPECT_EQ(td_varget_float(id, 0, start, count, &value), TD_NOERR);
            if (round == 0)
                first[k] = value;
            EXPECT_EQ(value, first[k]);
            EXPECT_EQ(td_pool_release(handles[k]), TD_NOERR);
            EXPECT_EQ(sources[k].closes, 0);
        }
    // Each source its own values: no reopened dataset read another's bytes.
    EXPECT_TRUE(first[0] != first[1] && first[1] != first[2] && first[2] != first[4]);
    for (std::size_t k = 0; k < sources.size(); ++k) {
        EXPECT_EQ(td_pool_close(handles[k]), TD_NOERR);
        EXPECT_EQ(sources[k].closes, 1);
    }
    td_pool_setlimit(TD_POOL_LIMIT);
}

// Refusals at the open call nothing further and leave the table as it was;
// a dataset on callbacks is read-only.
TEST_F(Callbacks, RefusalsAndReadOnly)
{
    Memory m{tdw::build_dataset(scene(tdw::kInfrared, 4, 70, true)), 0, Source::dribble, 0, 0};
    int id = -1;
    EXPECT_EQ(td_open_callbacks(&m, nullptr, size_memory, close_memory, &id), TD_EACCESS);
    EXPECT_EQ(td_open_callbacks(&m, read_memory, nullptr, close_memory, &id), TD_EACCESS);
    EXPECT_EQ(td_open_callbacks(&m, read_memory, size_memory, close_memory, nullptr), TD_EACCESS);
    const auto unknown_size = [](void*) -> std::int64_t { return -1; };
    EXPECT_EQ(td_open_callbacks(&m, read_memory, unknown_size, close_memory, &id), TD_EACCESS);
    EXPECT_EQ(m.reads, 0);

    // Without a close function, nothing is called at the close.
    ASSERT_EQ(td_open_callbacks(&m, read_memory, size_memory, nullptr, &id), TD_NOERR);
    EXPECT_EQ(id, 0);
    const std::uint32_t one[2]{1, 1}, origin[2]{0, 0};
    const float value = 20.0f;
    const std::uint8_t planes = 1;
    EXPECT_EQ(td_varput_float(id, 0, origin, one, &value), TD_EREADONLY);
    EXPECT_EQ(td_varput_byte(id, 1, origin, one, &planes), TD_EREADONLY);
    EXPECT_EQ(td_close(id), TD_NOERR);

    // A full table is refused before anything is read.
    std::vector<Memory> many(TD_MAX_DATASETS, m);
    for (Memory& each : many)
        ASSERT_EQ(td_open_callbacks(&each, read_memory, size_memory, close_memory, &id), TD_NOERR);
    Memory extra = m;
    extra.reads = 0;
    EXPECT_EQ(td_open_callbacks(&extra, read_memory, size_memory, close_memory, &id), TD_EMAXDS);
    EXPECT_EQ(extra.reads, 0);
    for (int i = 0; i < TD_MAX_DATASETS; ++i)
        EXPECT_EQ(td_close(i), TD_NOERR);
    for (const Memory& each : many)
        EXPECT_EQ(each.closes, 1);
}

} // namespace
