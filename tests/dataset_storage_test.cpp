// The data area: block reads and writes with the navigational shift, sample
// words, stream copies, and the compressed form on real files: expansion,
// recompression, corrupt streams, clean-up and narrow rows.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "calibration.h"
#include "codec.h"
#include "compression.h"
#include "dataset_writer.h"
#include "library_fixture.h"
#include "registry.h"
#include "run_command.h"
#include "storage.h"
#include "tidewell.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using td::Index2;

// ------------------------------------------------------- blocks on streams

// A plain data area of `rows` x `columns` 16-bit samples, sample (r, c) =
// r * 1000 + c, at `origin` in a temporary stream.
td::Stream plain_area(int rows, int columns, std::int64_t origin)
{
    td::Stream s = td::Stream::temporary();
    Bytes bytes(static_cast<std::size_t>(origin), 0xAA);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const unsigned v = static_cast<unsigned>(r * 1000 + c) & 0xFFFF;
            bytes.push_back(static_cast<std::uint8_t>(v >> 8));
            bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
        }
    EXPECT_EQ(s.write(bytes.data(), bytes.size()), bytes.size());
    return s;
}

std::vector<std::uint16_t> read_words(td::Stream& s, const td::BlockLayout& layout, Index2 start,
                                      Index2 count, const td::NavShift* shift, int expect = TD_NOERR)
{
    std::vector<std::uint16_t> words(std::size_t{count[0]} * count[1], 0x5555);
    EXPECT_EQ(td::read_stored_block(s, std::as_writable_bytes(std::span(words)), layout, start, count, shift),
              expect);
    return words;
}

// Expected output of a shifted read: stored (r - dv, c - dh) or zero.
std::vector<std::uint16_t> shifted(int rows, int columns, Index2 start, Index2 count, int dv, int dh)
{
    std::vector<std::uint16_t> out;
    for (std::uint32_t i = 0; i < count[0]; ++i)
        for (std::uint32_t j = 0; j < count[1]; ++j) {
            const long r = long{start[0]} + i - dv, c = long{start[1]} + j - dh;
            const bool in = r >= 0 && r < rows && c >= 0 && c < columns;
            out.push_back(in ? static_cast<std::uint16_t>((r * 1000 + c) & 0xFFFF) : 0);
        }
    return out;
}

TEST(Storage, ShiftedBlockReads)
{
    const int rows = 6, columns = 7;
    struct Case {
        Index2 start, count;
        int dv, dh;
    };
    const Case cases[] = {
        {{0, 0}, {6, 7}, 0, 0},           {{1, 2}, {3, 4}, 0, 0},          {{0, 0}, {4, 7}, 2, 0},
        {{0, 0}, {1, 7}, 0, -3},          {{2, 1}, {4, 5}, -1, 2},         {{0, 0}, {6, 7}, 6, 0},
        {{0, 0}, {6, 7}, 0, -7},          {{5, 6}, {1, 1}, 5, 6},          {{0, 0}, {6, 7}, 32767, 0},
        {{0, 0}, {6, 7}, -32767, -32768}, {{5, 6}, {1, 1}, -32768, 32767},
    };
    for (const auto layout_origin : {std::int64_t{14}, std::int64_t{1024}}) {
        td::Stream s = plain_area(rows, columns, layout_origin);
        const td::BlockLayout layout{2, rows, columns, layout_origin};
        for (const auto& c : cases) {
            const td::NavShift shift{static_cast<std::int16_t>(c.dv), static_cast<std::int16_t>(c.dh)};
            EXPECT_EQ(read_words(s, layout, c.start, c.count, &shift),
                      shifted(rows, columns, c.start, c.count, c.dv, c.dh))
                << "start " << c.start[0] << "," << c.start[1] << " shift " << c.dv << "," << c.dh;
        }
    }
}

TEST(Storage, WideImagesShiftWithoutWrapping)
{
    // 16-bit arithmetic would wrap the last column index (15000 + 19999) to
    // a negative number and return zeros; the stored columns must show.
    const int columns = 20000;
    td::Stream s = plain_area(1, columns, columns * 2);
    const td::BlockLayout layout{2, 1, columns, columns * 2};
    const td::NavShift shift{0, -15000};
    const Index2 start{0, 0}, count{1, static_cast<std::uint32_t>(columns)};
    EXPECT_EQ(read_words(s, layout, start, count, &shift), shifted(1, columns, start, count, 0, -15000));
}

TEST(Storage, ReadFailuresAndWrites)
{
    td::Stream s = plain_area(3, 4, 8);
    const td::BlockLayout layout{2, 3, 4, 8};
    // A block beyond the end of the stream.
    const td::BlockLayout longer{2, 4, 4, 8};
    read_words(s, longer, {3, 0}, {1, 4}, nullptr, TD_EREADDATA);

    // Writes leave the source alone and land where reads find them.
    std::vector<std::uint16_t> block{0x1234, 0xABCD, 0x0001, 0xFF00};
    const auto before = block;
    ASSERT_EQ(td::write_stored_block(s, std::as_bytes(std::span(block)), layout, {1, 1}, {2, 2}), TD_NOERR);
    EXPECT_EQ(block, before);
    EXPECT_EQ(read_words(s, layout, {1, 1}, {2, 2}, nullptr), before);
    EXPECT_EQ(read_words(s, layout, {1, 0}, {1, 1}, nullptr), std::vector<std::uint16_t>{1000});
    EXPECT_EQ(read_words(s, layout, {2, 3}, {1, 1}, nullptr), std::vector<std::uint16_t>{2003});
    // Big-endian on the file.
    ASSERT_TRUE(s.seek(8 + 2 * (4 + 1)));
    EXPECT_EQ(s.get_byte(), 0x12);
    EXPECT_EQ(s.get_byte(), 0x34);

    // Writes to a stream open for reading only fail, and so do copies to it.
    const std::string path = ::testing::TempDir() + "/storage_read_only_" + std::to_string(getpid());
    {
        td::Stream w = td::Stream::open(path.c_str(), "wb");
        ASSERT_EQ(w.write(block.data(), 8), 8u);
    }
    td::Stream read_only = td::Stream::open(path.c_str(), "rb");
    ASSERT_TRUE(read_only);
    const td::BlockLayout tiny{2, 1, 2, 4};
    EXPECT_EQ(td::write_stored_block(read_only, std::as_bytes(std::span(block)), tiny, {0, 0}, {1, 2}),
              TD_EWRITEDATA);
    EXPECT_EQ(td::copy_stream(read_only, s), -1);
    std::remove(path.c_str());

    // One-byte samples are never swapped.
    td::Stream bytes = td::Stream::temporary();
    const Bytes raw{1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(bytes.write(raw.data(), raw.size()), raw.size());
    Bytes got(4, 0);
    ASSERT_EQ(td::read_stored_block(bytes, std::as_writable_bytes(std::span(got)), {1, 2, 2, 4}, {0, 0},
                                    {2, 2}, nullptr),
              TD_NOERR);
    EXPECT_EQ(got, (Bytes{5, 6, 7, 8}));
}

// The stream's copy of the header block follows every write through the
// stream and a truncation: a header field read afterwards sees the file as
// it is, not as it was.
TEST(Storage, HeaderCopyFollowsWritesAndTruncations)
{
    td::Stream s = td::Stream::temporary();
    const Bytes start(200, 0xAA);
    ASSERT_EQ(s.write(start.data(), start.size()), start.size());
    ASSERT_TRUE(s.flush());
    struct Step {
        const char* what;
        std::function<bool(td::Stream&)> change;
        std::size_t readable;
        Bytes field; // bytes 40 and 41 afterwards
    };
    const Step steps[] = {
        {"unchanged", [](td::Stream&) { return true; }, 2, {0xAA, 0xAA}},
        {"write", [](td::Stream& t) { return t.seek(40) && t.write("\x01\x02", 2) == 2; }, 2, {1, 2}},
        {"put_byte", [](td::Stream& t) { return t.seek(41) && t.put_byte(9) && t.flush(); }, 2, {1, 9}},
        {"truncate", [](td::Stream& t) { return t.truncate(41); }, 1, {1}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        ASSERT_TRUE(step.change(s));
        Bytes field(2, 0);
        EXPECT_EQ(s.read_head(40, field.data(), 2), step.readable);
        field.resize(step.readable);
        EXPECT_EQ(field, step.field);
    }
}

TEST(Storage, PackAndUnpackSampleWords)
{
    struct Case {
        std::int16_t value;
        std::uint8_t nibble;
        std::uint16_t word;
    };
    const Case cases[] = {
        {0, 0, 0x0000},    {1, 1, 0x0011},     {-1, 15, 0x801F},
        {2047, 5, 0x7FF5}, {-2047, 0, 0xFFF0}, {-1000, 9, 0xBE89},
    };
    std::vector<std::int16_t> values;
    std::vector<std::uint8_t> nibbles;
    std::vector<std::uint16_t> words;
    for (const auto& c : cases) {
        values.push_back(c.value);
        nibbles.push_back(c.nibble);
        words.push_back(c.word);
    }
    std::vector<std::uint16_t> packed(words.size());
    td::pack_words(values, nibbles, packed);
    EXPECT_EQ(packed, words);
    std::vector<std::int16_t> v(words.size());
    std::vector<std::uint8_t> n(words.size());
    td::unpack_words(v, n, words);
    EXPECT_EQ(v, values);
    EXPECT_EQ(n, nibbles);

    // Either side may be absent; a negative zero is the value 0.
    td::pack_words({}, nibbles, packed);
    EXPECT_EQ(packed[2], 0x000F);
    td::pack_words(values, {}, packed);
    EXPECT_EQ(packed[2], 0x8010);
    const std::vector<std::uint16_t> negative_zero{0x8003};
    td::unpack_words(v, {}, negative_zero);
    EXPECT_EQ(v[0], 0);
}

TEST(Storage, CopyStream)
{
    td::Stream src = td::Stream::temporary(), dst = td::Stream::temporary();
    Bytes data(70000);
    std::mt19937 rng(3);
    for (auto& b : data)
        b = static_cast<std::uint8_t>(rng());
    ASSERT_EQ(src.write(data.data(), data.size()), data.size());
    ASSERT_EQ(td::copy_stream(dst, src), 0);
    dst.rewind();
    Bytes back(data.size() + 1);
    EXPECT_EQ(dst.read(back.data(), back.size()), data.size());
    back.pop_back();
    EXPECT_EQ(back, data);
}

// ------------------------------------------------------- compressed files

// Open file descriptors of this process that name a deleted file: the
// anonymous temporary copies.
int anonymous_files()
{
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    if (d == nullptr)
        return -1;
    while (const dirent* e = readdir(d)) {
        char target[4096];
        const std::string link = std::string("/proc/self/fd/") + e->d_name;
        const ssize_t len = readlink(link.c_str(), target, sizeof target - 1);
        if (len > 0 && std::string(target, static_cast<std::size_t>(len)).ends_with("(deleted)"))
            ++n;
    }
    closedir(d);
    return n;
}

std::vector<std::string> directory_entries(const std::string& path)
{
    std::vector<std::string> names;
    DIR* d = opendir(path.c_str());
    if (d == nullptr)
        return names;
    while (const dirent* e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
            names.emplace_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

// A random image with long runs of nibbles that reach over row ends.
struct Image {
    int rows, columns;
    std::vector<int> values, nibbles;
    int value(int r, int c) const { return values[static_cast<std::size_t>(r * columns + c)]; }
    int nibble(int r, int c) const { return nibbles[static_cast<std::size_t>(r * columns + c)]; }
};

// One value in `jump_one_in` jumps anywhere (an absolute code); the others
// step from the one before.
Image random_image(int rows, int columns, unsigned seed, unsigned jump_one_in = 4)
{
    Image im{rows, columns, {}, {}};
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> any(-2047, 2047), step(-63, 63), nib(0, 15), run(1, 700);
    int v = any(rng);
    for (int i = 0; i < rows * columns; ++i) {
        v = (rng() % jump_one_in == 0) ? any(rng) : std::clamp(v + step(rng), -2047, 2047);
        im.values.push_back(v);
    }
    // Row 1 starts close to the end of row 0: its first code is a delta.
    if (rows > 1 && columns > 1)
        im.values[static_cast<std::size_t>(columns)] =
            std::clamp(im.values[static_cast<std::size_t>(columns - 1)] + 5, -2047, 2047);
    while (im.nibbles.size() < im.values.size()) {
        const int n = run(rng), x = nib(rng);
        for (int k = 0; k < n && im.nibbles.size() < im.values.size(); ++k)
            im.nibbles.push_back(x);
    }
    return im;
}

tdw::DatasetDescription description_of(const Image& im, bool compressed,
                                       std::int16_t data_id = tdw::kInfrared)
{
    tdw::DatasetDescription desc;
    desc.data_id = data_id;
    desc.rows = static_cast<std::int16_t>(im.rows);
    desc.columns = static_cast<std::int16_t>(im.columns);
    desc.compressed = compressed;
    desc.value = [&im](int r, int c) { return im.value(r, c); };
    desc.nibble = [&im](int r, int c) { return im.nibble(r, c); };
    return desc;
}

// The compressed file with its graphics section written again as runs of
// up to 256 samples that go on over row ends, as a reader must accept
// (the writer never makes them).
Bytes with_runs_over_row_ends(Bytes file, const Image& im)
{
    struct Sink {
        Bytes& bytes;
        std::size_t count = 0;
        bool put_byte(unsigned char b)
        {
            bytes.push_back(b);
            ++count;
            return true;
        }
    };
    const std::vector<std::uint8_t> all(im.nibbles.begin(), im.nibbles.end());
    Bytes rows_section;
    Sink per_row{rows_section};
    for (int r = 0; r < im.rows; ++r)
        (void)td::codec::encode_graphics_row(
            std::span(all).subspan(std::size_t(r * im.columns), std::size_t(im.columns)), per_row);
    file.resize(file.size() - per_row.count);
    Sink whole{file};
    (void)td::codec::encode_graphics_row(std::span(all), whole);
    return file;
}

class Compressed : public tdtest::LibraryTest {
protected:
    // Reads one graphics byte: the first data read of the dataset.
    static int first_read(int id)
    {
        const std::uint32_t start[2]{0, 0}, count[2]{1, 1};
        std::uint8_t b = 0;
        return td_varget_byte(id, 1, start, count, &b);
    }

    // A write that changes nothing: the planes of the whole image read and
    // written back as they were.  The dataset is changed all the same (it
    // is expanded, and its copy written to), so close writes it back.
    static int rewrite_planes(int id)
    {
        const auto ds = td::find_dataset(id);
        if (ds == nullptr)
            return TD_EBADID;
        const std::uint32_t start[2]{0, 0};
        const std::uint32_t count[2]{std::uint32_t(ds->rows), std::uint32_t(ds->columns)};
        std::vector<std::uint8_t> planes(std::size_t(ds->rows) * std::size_t(ds->columns));
        if (const int s = td_varget_byte(id, 1, start, count, planes.data()); s != TD_NOERR)
            return s;
        return td_varput_byte(id, 1, start, count, planes.data());
    }

    // Writes one sample of an infrared dataset (calibrated) through the
    // public calls: its data value v (1 .. 2047) and its planes.
    static int write_sample(int id, const Image& im, std::size_t i)
    {
        const std::uint32_t start[2]{std::uint32_t(i / std::size_t(im.columns)),
                                     std::uint32_t(i % std::size_t(im.columns))};
        const std::uint32_t count[2]{1, 1};
        const float value = td::temperature_celsius(im.values[i]);
        const std::uint8_t planes = std::uint8_t(im.nibbles[i]);
        if (const int s = td_varput_float(id, 0, start, count, &value); s != TD_NOERR)
            return s;
        return td_varput_byte(id, 1, start, count, &planes);
    }

    // The sample words of the whole image, row by row: from the working
    // copy, or decoded in place through the row index.
    static std::vector<std::uint16_t> stored_words(int id)
    {
        const auto ds = td::find_dataset(id);
        EXPECT_TRUE(ds != nullptr && (ds->expanded || ds->copied || ds->row_index.built()));
        const std::size_t n = std::size_t(ds->rows) * std::size_t(ds->columns);
        const Index2 all{Index2::value_type(ds->rows), Index2::value_type(ds->columns)};
        std::vector<std::uint16_t> words(n), nibbles(n);
        if (ds->expanded || ds->copied) {
            EXPECT_EQ(td::read_stored_block(ds->current, std::as_writable_bytes(std::span(words)),
                                            td::layout_of(*ds), {0, 0}, all, nullptr),
                      TD_NOERR);
            return words;
        }
        using Part = td::RowIndex::Part;
        EXPECT_EQ(ds->row_index.read_block(ds->current, words, {0, 0}, all, nullptr, Part::values), TD_NOERR);
        EXPECT_EQ(ds->row_index.read_block(ds->current, nibbles, {0, 0}, all, nullptr, Part::nibbles),
                  TD_NOERR);
        for (std::size_t i = 0; i < n; ++i)
            words[i] |= nibbles[i];
        return words;
    }

    static std::vector<std::uint16_t> expected_words(const Image& im)
    {
        std::vector<std::uint16_t> words;
        for (int r = 0; r < im.rows; ++r)
            for (int c = 0; c < im.columns; ++c)
                words.push_back(tdw::sample_word(im.value(r, c), im.nibble(r, c)));
        return words;
    }
};

TEST_F(Compressed, RandomImagesRoundTripByteForByte)
{
    const struct {
        int rows, columns;
    } shapes[] = {{1, 1}, {3, 300}, {40, 37}, {17, 600}, {5, 1030}};
    unsigned seed = 1;
    for (const auto& shape : shapes) {
        const Image im = random_image(shape.rows, shape.columns, seed++);
        const Bytes file = tdw::build_dataset(description_of(im, true));
        const std::string path = write("ir" + std::to_string(seed) + ".tdf", file);

        const int id = open_ok(path, TD_WRITE);
        ASSERT_EQ(first_read(id), TD_NOERR);
        EXPECT_EQ(stored_words(id), expected_words(im)) << shape.rows << "x" << shape.columns;
        ASSERT_EQ(rewrite_planes(id), TD_NOERR);
        EXPECT_EQ(stored_words(id), expected_words(im)) << shape.rows << "x" << shape.columns;
        ASSERT_EQ(td_close(id), TD_NOERR);
        EXPECT_EQ(tdtest::read_file(path), std::string(file.begin(), file.end()))
            << shape.rows << "x" << shape.columns;
    }
    EXPECT_EQ(directory_entries(dir.path()).size(), std::size(shapes));
}

// Blocks of random place and size, read in random order, give exactly what
// the plain copy of the same image gives: both variables, the data variable
// under its shift, noisy and smooth data (long runs of delta codes), rows
// wider than the header block, graphics runs that go on over row ends.
TEST_F(Compressed, RandomBlocksMatchThePlainCopy)
{
    struct Case {
        const char* what;
        int rows, columns;
        unsigned jump_one_in;
        std::int16_t vertical, horizontal, calibration;
        bool runs_over_row_ends;
    };
    const Case cases[] = {
        {"noisy", 23, 300, 4, 0, 0, 2, false},
        {"smooth and shifted", 40, 70, 300, 3, -5, 0, false},
        {"wide rows", 9, 1030, 60, -2, 7, 2, false},
        {"runs over row ends", 31, 90, 30, 1, 1, 0, true},
    };
    std::mt19937 rng(2024);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Image im = random_image(c.rows, c.columns, rng(), c.jump_one_in);
        tdw::DatasetDescription desc = description_of(im, false);
        desc.fields = {{"vertical_shift", c.vertical},
                       {"horizontal_shift", c.horizontal},
                       {"calibration_type", c.calibration}};
        const int plain = open_ok(write(std::string(c.what) + ".plain", tdw::build_dataset(desc)));
        desc.compressed = true;
        Bytes packed = tdw::build_dataset(desc);
        if (c.runs_over_row_ends)
            packed = with_runs_over_row_ends(packed, im);
        const int compressed = open_ok(write(std::string(c.what) + ".packed", packed));

        const auto below = [&rng](int n) {
            return static_cast<std::uint32_t>(rng() % static_cast<unsigned>(n));
        };
        for (int k = 0; k < 80; ++k) {
            const std::uint32_t row = below(c.rows), column = below(c.columns);
            const std::uint32_t start[2]{row, column};
            const std::uint32_t count[2]{1 + below(c.rows - int(row)), 1 + below(c.columns - int(column))};
            for (const int varid : {0, 1}) {
                std::vector<float> a(std::size_t{count[0]} * count[1]), b(a.size());
                ASSERT_EQ(td_varget_float(plain, varid, start, count, a.data()), TD_NOERR);
                ASSERT_EQ(td_varget_float(compressed, varid, start, count, b.data()), TD_NOERR);
                ASSERT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0)
                    << "variable " << varid << " at " << row << "," << column << " count " << count[0] << "x"
                    << count[1];
            }
        }
        EXPECT_FALSE(td::find_dataset(compressed)->expanded);
    }
}

TEST_F(Compressed, RecompressionRewritesChangedData)
{
    const Image im = random_image(9, 50, 77);
    Image changed = im;
    changed.values[123] = 1;
    changed.values[124] = 2047;
    changed.nibbles[300] = 15;
    const std::string path = write("ir.tdf", tdw::build_dataset(description_of(im, true)));
    // Written without a read first: the write expands the dataset itself.
    const int id = open_ok(path, TD_WRITE);
    for (const std::size_t i : {123, 124, 300})
        ASSERT_EQ(write_sample(id, changed, i), TD_NOERR);
    ASSERT_EQ(td_close(id), TD_NOERR);
    const Bytes expect = tdw::build_dataset(description_of(changed, true));
    EXPECT_EQ(tdtest::read_file(path), std::string(expect.begin(), expect.end()));
}

// The replaced dataset keeps its mode, owner and group (a process that may
// give them), its extended attributes (where the file system keeps them) and
// the symbolic link through which it was opened.
TEST_F(Compressed, RecompressionKeepsPermissionsOwnerAttributesAndLinks)
{
    const Image im = random_image(5, 80, 17);
    const Bytes file = tdw::build_dataset(description_of(im, true));
    const std::string path = write("ir.tdf", file);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    const bool as_root = geteuid() == 0;
    if (as_root) {
        ASSERT_EQ(chown(path.c_str(), 4321, 8765), 0);
    }
    const std::string note = "kept";
    const bool attributes = setxattr(path.c_str(), "user.tdf.note", note.data(), note.size(), 0) == 0;
    const std::string link = dir.file("link.tdf");
    ASSERT_EQ(symlink("ir.tdf", link.c_str()), 0);
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);

    const int id = open_ok(link, TD_WRITE);
    ASSERT_EQ(rewrite_planes(id), TD_NOERR);
    ASSERT_EQ(td_close(id), TD_NOERR);

    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_NE(st.st_ino, before.st_ino); // a new file, renamed into place
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_uid, before.st_uid);
    EXPECT_EQ(st.st_gid, before.st_gid);
    if (attributes) {
        char value[16] = {};
        EXPECT_EQ(getxattr(path.c_str(), "user.tdf.note", value, sizeof value), ssize_t(note.size()));
        EXPECT_EQ(std::string(value), note);
    }
    EXPECT_EQ(tdtest::read_file(path), std::string(file.begin(), file.end()));
    EXPECT_EQ(directory_entries(dir.path()), (std::vector<std::string>{"ir.tdf", "link.tdf"}));
}

// A changed dataset with a second hard link cannot be replaced without
// parting the two names: the close is refused with 45 and the file, under
// both names, stays as it was; the dataset stays open.  A dataset whose name
// is as long as the system allows still gets its side file.
TEST_F(Compressed, RecompressionRefusesHardLinksAndTakesLongNames)
{
    const Image im = random_image(4, 70, 23);
    Image changed = im;
    changed.values[5] = 7;
    const Bytes file = tdw::build_dataset(description_of(im, true));
    const std::string expected(file.begin(), file.end());

    const std::string path = write("ir.tdf", file);
    const std::string other = dir.file("other.tdf");
    ASSERT_EQ(link(path.c_str(), other.c_str()), 0);
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    int id = open_ok(path, TD_WRITE);
    ASSERT_EQ(write_sample(id, changed, 5), TD_NOERR);
    EXPECT_EQ(td_close(id), TD_EUNCOMPFILE);
    ASSERT_NE(td::find_dataset(id), nullptr);
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_nlink, 2u);
    EXPECT_EQ(tdtest::read_file(path), expected);
    EXPECT_EQ(tdtest::read_file(other), expected);
    // With the second name gone, the same close goes through.
    ASSERT_EQ(unlink(other.c_str()), 0);
    EXPECT_EQ(td_close(id), TD_NOERR);
    const Bytes rewritten = tdw::build_dataset(description_of(changed, true));
    EXPECT_EQ(tdtest::read_file(path), std::string(rewritten.begin(), rewritten.end()));

    const std::string long_name = write(std::string(250, 'n').append(".tdf"), file);
    id = open_ok(long_name, TD_WRITE);
    ASSERT_EQ(rewrite_planes(id), TD_NOERR);
    EXPECT_EQ(td_close(id), TD_NOERR);
    EXPECT_EQ(tdtest::read_file(long_name), expected);
    EXPECT_EQ(directory_entries(dir.path()).size(), 2u);
}

TEST_F(Compressed, ReadOnlyDatasetIsUntouchedAndLeavesNothingBehind)
{
    const Image im = random_image(30, 40, 5);
    const Bytes file = tdw::build_dataset(description_of(im, true));
    const std::string path = write("vis.tdf", file);
    const int before = anonymous_files();

    const int id = open_ok(path, TD_READONLY);
    std::vector<float> row(40);
    const std::uint32_t count[2]{1, 40};
    for (std::uint32_t r = 0; r < 30; ++r) {
        const std::uint32_t start[2]{r, 0};
        ASSERT_EQ(td_varget_float(id, 0, start, count, row.data()), TD_NOERR);
    }
    // Read in place: no copy, not even a nameless one.
    EXPECT_TRUE(td::find_dataset(id)->row_index.built());
    EXPECT_FALSE(td::find_dataset(id)->expanded);
    EXPECT_EQ(anonymous_files(), before);
    EXPECT_EQ(directory_entries(dir.path()), std::vector<std::string>{"vis.tdf"});
    ASSERT_EQ(td_close(id), TD_NOERR);
    EXPECT_EQ(anonymous_files(), before);
    EXPECT_EQ(directory_entries(dir.path()), std::vector<std::string>{"vis.tdf"});
    EXPECT_EQ(tdtest::read_file(path), std::string(file.begin(), file.end()));
}

TEST_F(Compressed, CorruptStreamsAreRefused)
{
    const Image im = random_image(4, 20, 9);
    const Bytes good = tdw::build_dataset(description_of(im, true));

    struct Case {
        const char* what;
        Bytes bytes;
        int status;
    };
    std::vector<Case> cases;
    cases.push_back({"header only", Bytes(good.begin(), good.begin() + 1024), TD_EREADDATA});
    cases.push_back({"header cut", Bytes(good.begin(), good.begin() + 500), TD_EREADDATA});
    cases.push_back({"cut in the data", Bytes(good.begin(), good.begin() + 1040), TD_EREADDATA});
    cases.push_back({"cut in the graphics", Bytes(good.begin(), good.end() - 1), TD_EREADDATA});
    Bytes delta_first = good;
    delta_first[1024] = 0x05;
    cases.push_back({"first code a delta", delta_first, TD_ECOMPBYTE0});
    Bytes type1 = good;
    tdw::set_field(type1, "compression_type", 1);
    cases.push_back({"compression type 1", type1, TD_ECOMPTYPE});
    Bytes type3 = good;
    tdw::set_field(type3, "compression_type", 3);
    cases.push_back({"compression type 3", type3, TD_ECOMPTYPE});
    // 2047 then a delta of +1: refused instead of wrapping into the sign bit.
    Bytes overflow = good;
    overflow[1024] = 0x87;
    overflow[1025] = 0xFF;
    overflow[1026] = 0x01;
    cases.push_back({"delta above 2047", overflow, TD_ECOMPFILE});
    Bytes underflow = good;
    underflow[1024] = 0x8F;
    underflow[1025] = 0xFF;
    underflow[1026] = 0x41;
    cases.push_back({"delta below -2047", underflow, TD_ECOMPFILE});

    int n = 0;
    for (const auto& c : cases) {
        const std::string path = write("bad" + std::to_string(n++) + ".tdf", c.bytes);
        const int id = open_ok(path, TD_WRITE);
        std::vector<float> row(20);
        const std::uint32_t start[2]{0, 0}, count[2]{1, 20};
        EXPECT_EQ(td_varget_float(id, 0, start, count, row.data()), c.status) << c.what;
        // Nothing indexed or expanded; the next read tries again and fails alike.
        EXPECT_FALSE(td::find_dataset(id)->row_index.built()) << c.what;
        EXPECT_FALSE(td::find_dataset(id)->expanded) << c.what;
        EXPECT_EQ(first_read(id), c.status) << c.what;
        EXPECT_EQ(td_close(id), TD_NOERR) << c.what;
        EXPECT_EQ(tdtest::read_file(path), std::string(c.bytes.begin(), c.bytes.end())) << c.what;
    }
    EXPECT_EQ(directory_entries(dir.path()).size(), cases.size());
}

TEST_F(Compressed, RandomlyDamagedStreamsFailCleanly)
{
    const Image im = random_image(7, 45, 13);
    const Bytes good = tdw::build_dataset(description_of(im, true));
    std::mt19937 rng(99);
    for (int round = 0; round < 200; ++round) {
        Bytes bad = good;
        const int hits = 1 + int(rng() % 8);
        for (int h = 0; h < hits; ++h)
            bad[1024 + rng() % (bad.size() - 1024)] = static_cast<std::uint8_t>(rng());
        if (round % 3 == 0)
            bad.resize(1024 + rng() % (bad.size() - 1024));
        const std::string path = write("damaged.tdf", bad);
        const int id = open_ok(path, TD_READONLY);
        std::vector<float> row(45);
        const std::uint32_t start[2]{6, 0}, count[2]{1, 45};
        const int status = td_varget_float(id, 0, start, count, row.data());
        EXPECT_TRUE(status == TD_NOERR || status == TD_EREADDATA || status == TD_ECOMPFILE ||
                    status == TD_ECOMPBYTE0)
            << "round " << round << ": " << status;
        EXPECT_EQ(td::find_dataset(id)->row_index.built(), status == TD_NOERR);
        EXPECT_EQ(td_close(id), TD_NOERR);
    }
}

TEST_F(Compressed, FailedExpansionStartsAgainOnTheNextRead)
{
    const Image im = random_image(6, 33, 21);
    const Bytes good = tdw::build_dataset(description_of(im, true));
    const std::string path = write("ir.tdf", Bytes(good.begin(), good.end() - 3));
    const int id = open_ok(path, TD_READONLY);
    EXPECT_EQ(first_read(id), TD_EREADDATA);
    EXPECT_EQ(first_read(id), TD_EREADDATA);
    // The file is completed in place: the open dataset no longer reads it
    // (its header was read from the file as it was); opened again, it is
    // read from byte 0.
    tdw::write_bytes(path, good);
    EXPECT_EQ(first_read(id), TD_ECOMPFILE);
    ASSERT_EQ(td_close(id), TD_NOERR);
    const int again = open_ok(path, TD_READONLY);
    ASSERT_EQ(first_read(again), TD_NOERR);
    EXPECT_EQ(stored_words(again), expected_words(im));
}

TEST_F(Compressed, GraphicsPairsMayCrossRows)
{
    // 3 x 10 samples, all of value 1, with hand-made graphics pairs.
    struct Case {
        const char* what;
        Bytes pairs;
        std::vector<std::uint8_t> planes;
    };
    const auto rows_of = [](std::initializer_list<std::pair<std::uint8_t, int>> runs) {
        std::vector<std::uint8_t> out;
        for (const auto& [nibble, n] : runs)
            out.insert(out.end(), std::size_t(n), nibble);
        return out;
    };
    const Case cases[] = {
        {"a pair crosses into the next row",
         {1, 5, 3, 9, 7, 3, 2, 9},
         rows_of({{1, 6}, {3, 10}, {7, 4}, {2, 10}})},
        {"a pair longer than a whole row", {4, 1, 9, 24, 6, 3}, rows_of({{4, 2}, {9, 25}, {6, 3}})},
        {"the last pair reaches past the last row", {5, 19, 8, 255}, rows_of({{5, 20}, {8, 10}})},
    };
    int n = 0;
    for (const auto& c : cases) {
        Image im{3, 10, std::vector<int>(30, 1), std::vector<int>(30, 0)};
        Bytes file = tdw::build_dataset(description_of(im, true));
        file.resize(1024);
        file.insert(file.end(), {0x80, 0x01});
        file.insert(file.end(), 29, 0x00);
        file.insert(file.end(), c.pairs.begin(), c.pairs.end());
        const std::string path = write("ir" + std::to_string(n++) + ".tdf", file);
        const int id = open_ok(path, TD_READONLY);
        std::vector<std::uint8_t> g(30);
        const std::uint32_t start[2]{0, 0}, count[2]{3, 10};
        ASSERT_EQ(td_varget_byte(id, 1, start, count, g.data()), TD_NOERR) << c.what;
        EXPECT_EQ(g, c.planes) << c.what;
        std::vector<float> v(30);
        ASSERT_EQ(td_varget_float(id, 0, start, count, v.data()), TD_NOERR) << c.what;
        EXPECT_EQ(v, std::vector<float>(30, -95.149994f)) << c.what;
        EXPECT_EQ(td_close(id), TD_NOERR);
    }
}

TEST_F(Compressed, NarrowRowsKeepTheHeader)
{
    // W = 20 bytes: row 0 would lie over the header fields in a copy that
    // put it at byte W.
    const Image im = random_image(12, 10, 31);
    tdw::DatasetDescription desc = description_of(im, true);
    desc.fields = {{"vertical_shift", 1},          {"horizontal_shift", -2},
                   {"orbit_start_year", 1999},     {"orbit_start_hour_minute", 1234},
                   {"orbit_end_millisecond", 777}, {"calibration_type", 0}};
    const Bytes file = tdw::build_dataset(desc);
    const std::string path = write("narrow.tdf", file);
    const int id = open_ok(path, TD_WRITE);
    struct Field {
        const char* name;
        std::int16_t value;
    };
    // Read in place, then from the expanded copy that a write made (so that
    // close compresses it again).
    for (const bool expanded : {false, true}) {
        SCOPED_TRACE(expanded ? "expanded" : "in place");
        ASSERT_EQ(expanded ? rewrite_planes(id) : first_read(id), TD_NOERR);
        for (const Field f :
             {Field{"vertical_shift", 1}, Field{"horizontal_shift", -2}, Field{"orbit_start_year", 1999},
              Field{"orbit_start_hour_minute", 1234}, Field{"orbit_end_millisecond", 777}}) {
            std::int16_t v = 0;
            EXPECT_EQ(td_attget_short(id, 0, f.name, &v), TD_NOERR) << f.name;
            EXPECT_EQ(v, f.value) << f.name;
        }
        // Raw counts, shifted down 1 and left 2: output (r, c) is stored
        // (r - 1, c + 2).
        std::vector<float> row(10);
        const std::uint32_t start[2]{3, 0}, count[2]{1, 10};
        ASSERT_EQ(td_varget_float(id, 0, start, count, row.data()), TD_NOERR);
        for (int c = 0; c < 10; ++c) {
            const int v = c + 2 < 10 ? im.value(2, c + 2) : 0;
            const float expect = (v >= 1 && v <= 1024) ? float(v - 1) : TD_BAD_VALUE;
            EXPECT_EQ(row[std::size_t(c)], expect) << c;
        }
        EXPECT_EQ(stored_words(id), expected_words(im));
    }
    ASSERT_EQ(td_close(id), TD_NOERR);
    EXPECT_EQ(tdtest::read_file(path), std::string(file.begin(), file.end()));
}

TEST_F(Compressed, FailedRecompressionKeepsThePreviousFile)
{
    const Image im = random_image(8, 64, 41);
    const Bytes file = tdw::build_dataset(description_of(im, true));
    const std::string path = write("ir.tdf", file);
    const int id = open_ok(path, TD_WRITE);
    ASSERT_EQ(rewrite_planes(id), TD_NOERR);
    // Claim a row more than the copy holds: recompression fails on it,
    // after it has written part of the new file.
    const auto ds = td::find_dataset(id);
    ds->rows = 9;
    EXPECT_EQ(td_close(id), TD_EREADDATA);
    EXPECT_EQ(tdtest::read_file(path), std::string(file.begin(), file.end()));
    EXPECT_EQ(directory_entries(dir.path()), std::vector<std::string>{"ir.tdf"});
    // Still open and still expanded; the next close succeeds.
    ASSERT_EQ(td::find_dataset(id), ds);
    EXPECT_TRUE(ds->expanded);
    ds->rows = 8;
    EXPECT_EQ(td_close(id), TD_NOERR);
    EXPECT_EQ(tdtest::read_file(path), std::string(file.begin(), file.end()));
}

TEST_F(Compressed, DataAreaOfADatasetLeavingDefineMode)
{
    struct Case {
        bool compressed;
        std::int16_t data_id, rows, columns;
        std::size_t plain_length;
    };
    const Case cases[] = {
        {false, tdw::kInfrared, 3, 100, 200 * 4},
        {false, tdw::kCloud, 4, 150, 150 * 5},
        {true, tdw::kVisible, 2, 5, 0},
    };
    int n = 0;
    for (const auto& c : cases) {
        tdw::DatasetDescription desc;
        desc.data_id = c.data_id;
        desc.rows = c.rows;
        desc.columns = c.columns;
        desc.fields = {{"compression_type", static_cast<std::int16_t>(c.compressed ? 2 : 0)}};
        // Just the header fields, as a dataset being defined would have.
        Bytes header = tdw::build_dataset(desc);
        header.resize(136);
        const std::string path = write("new" + std::to_string(n++) + ".tdf", header);
        const int id = open_ok(path, TD_WRITE);
        td::find_dataset(id)->define_flag = 1;
        ASSERT_EQ(td_enddef(id), TD_NOERR);
        EXPECT_EQ(td_enddef(id), TD_ENOTINDEFINE);
        EXPECT_EQ(td::find_dataset(id)->expanded, c.compressed);
        ASSERT_EQ(td_close(id), TD_NOERR);

        const std::string got = tdtest::read_file(path);
        Bytes expect = header;
        if (c.compressed) {
            // The header block, then every sample 0: one absolute code, then
            // deltas of 0, then one pair per row.
            expect.resize(1024, 0);
            expect.insert(expect.end(), {0x80, 0x00});
            expect.insert(expect.end(), std::size_t(c.rows * c.columns - 1), 0x00);
            for (int r = 0; r < c.rows; ++r)
                expect.insert(expect.end(), {0x00, static_cast<std::uint8_t>(c.columns - 1)});
        } else {
            expect.resize(c.plain_length, 0);
        }
        EXPECT_EQ(got, std::string(expect.begin(), expect.end())) << "case " << n;
    }
}

// Leaving define mode with an image already there keeps it: the data area
// is only made whole, a compressed image expanded rather than its codes
// taken for samples, and a complete dataset closes unchanged.
TEST_F(Compressed, LeavingDefineModeKeepsAnImage)
{
    for (const bool compressed : {true, false}) {
        SCOPED_TRACE(compressed ? "compressed" : "plain");
        const Image im = random_image(10, 80, 99);
        const Bytes file = tdw::build_dataset(description_of(im, compressed));
        const std::string path = write(compressed ? "c.tdf" : "p.tdf", file);
        const int id = open_ok(path, TD_WRITE);
        td::find_dataset(id)->define_flag = 1;
        ASSERT_EQ(td_enddef(id), TD_NOERR);
        EXPECT_EQ(stored_words(id), expected_words(im));
        ASSERT_EQ(td_close(id), TD_NOERR);
        EXPECT_EQ(tdtest::read_file(path), std::string(file.begin(), file.end()));
    }
}

} // namespace
