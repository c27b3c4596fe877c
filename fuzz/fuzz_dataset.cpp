// fuzz_dataset.cpp - the dataset library on arbitrary bytes: open read-only,
// every inquiry, every attribute of the table by name, every row of both
// variables as floats and as bytes, then close.
//
// Besides the sanitizers, it checks what must hold whatever the bytes are:
// statuses stay in 0 to 51, text results fit the documented buffers (which
// are allocated at exactly those sizes, so AddressSanitizer sees one byte
// too many), a short attribute reads the same through both of its
// operations, and no dataset stays open.  Every read, of whole rows and of
// blocks that the input picks (with the navigational shift, across the
// edges, outside the image), gives the status and the values that the
// file's bytes call for (expected_reads.h): a compressed stream read
// through the library's row index must give what a sequential decode of it
// gives.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "expected_reads.h"
#include "input_file.h"
#include "tidewell.h"

namespace {

// Samples read per variable for one input.  Every row is read while the
// image holds at most this many samples, which is more than an input of the
// longest length (8192 bytes) can hold; a larger one (up to 32767 x 32767
// from a few header bytes) has its first and last rows read, so that one
// input cannot take long.
constexpr std::int64_t kSampleBudget = 1 << 14;

// A failed first read of a compressed dataset walks its stream again at
// the next read, so every row of a broken stream would walk it anew; after
// a few failures the rest of a variable's rows say nothing new.
constexpr int kMaxFailures = 4;

[[noreturn]] void fail(const char* what, int status)
{
    fuzz::fail("fuzz_dataset", what, "(status " + std::to_string(status) + ")");
}

int check(int status, const char* what)
{
    if (status < 0 || status > 51)
        fail(what, status);
    if (td_strerror(status) == nullptr)
        fail("td_strerror gave no text", status);
    return status;
}

template <class T>
std::unique_ptr<T[]> exact(std::size_t n)
{
    return std::make_unique<T[]>(n);
}

void inquire(int id, int& rows, int& columns)
{
    int dimid = -1;
    check(td_dimid(id, "rows", &dimid), "td_dimid rows");
    check(td_dimid(id, "columns", &dimid), "td_dimid columns");
    if (check(td_dimid(id, "Rows", &dimid), "td_dimid Rows") != TD_EBADDIM)
        fail("td_dimid accepted Rows", 0);

    for (int d = -1; d <= 2; ++d) {
        auto name = exact<char>(TD_DIM_NAME_SIZE);
        int length = 0;
        const int s = check(td_diminq(id, d, name.get(), &length), "td_diminq");
        if (s == TD_NOERR) {
            if (length < 0)
                fail("td_diminq gave a negative length", length);
            (d == 0 ? rows : columns) = length;
        }
        check(td_diminq(id, d, nullptr, nullptr), "td_diminq without outputs");
    }

    auto variable = exact<char>(TD_VAR_NAME_SIZE);
    for (int v = -1; v <= 2; ++v) {
        auto name = exact<char>(TD_VAR_NAME_SIZE);
        std::int16_t type = -1;
        int ndims = 0, natts = 0;
        int dimids[2] = {-1, -1};
        const int s = check(td_varinq(id, v, name.get(), &type, &ndims, dimids, &natts), "td_varinq");
        if (s == TD_NOERR && v == 0)
            std::memcpy(variable.get(), name.get(), TD_VAR_NAME_SIZE);
        check(td_varinq(id, v, nullptr, nullptr, nullptr, nullptr, nullptr), "td_varinq without outputs");
    }
    int varid = -1;
    check(td_varid(id, variable.get(), &varid), "td_varid data");
    check(td_varid(id, "graphics", &varid), "td_varid graphics");
    check(td_varid(id, "", &varid), "td_varid empty");

    // What the header means: every text fits its documented buffer, grids
    // fill exactly one value per row and per column.
    int kind = -1, storage = -1;
    check(td_kindinq(id, &kind, exact<char>(TD_KIND_NAME_SIZE).get()), "td_kindinq");
    check(td_storageinq(id, &storage, exact<char>(TD_STORAGE_NAME_SIZE).get()), "td_storageinq");
    check(td_unitsinq(id, exact<char>(TD_UNITS_SIZE).get(), exact<char>(TD_UNITS_SIZE).get(),
                      exact<char>(TD_UNITS_SIZE).get()),
          "td_unitsinq");
    std::int64_t seconds = 0;
    int millisecond = 0;
    check(td_timeinq(id, &seconds, &millisecond, exact<char>(TD_TIME_TEXT_SIZE).get()), "td_timeinq");
    int grid = -1, length = 0;
    const bool lengths = td_diminq(id, 0, nullptr, &length) == TD_NOERR && length > 0 &&
                         td_diminq(id, 1, nullptr, &dimid) == TD_NOERR && dimid > 0;
    check(td_gridinq(id, &grid, lengths ? exact<double>(std::size_t(length)).get() : nullptr,
                     lengths ? exact<double>(std::size_t(dimid)).get() : nullptr),
          "td_gridinq");
    std::uint64_t device = 0, inode = 0;
    std::int64_t size = 0, modified = 0;
    int changed = -1;
    if (check(td_fileinq(id, &device, &inode, &size, &modified, &changed), "td_fileinq") == TD_NOERR &&
        changed != 0)
        fail("td_fileinq says an unchanged file changed", changed);

    for (int v = 0; v <= 2; ++v) {
        for (int a = -1; a <= TD_NUM_ATTRIBUTES; ++a) {
            auto name = exact<char>(TD_ATT_NAME_SIZE);
            std::int16_t kind = 0, scale = 0;
            if (check(td_attinq(id, 0, a, name.get(), &kind, &scale), "td_attinq") != TD_NOERR)
                continue;
            auto text = exact<char>(TD_ATT_TEXT_SIZE);
            check(td_attget_text(id, v, name.get(), text.get()), "td_attget_text");
            std::int16_t value = 0, stored = 0;
            const int short_status = check(td_attget_short(id, v, name.get(), &value), "td_attget_short");
            const int stored_status = check(td_attget_stored(id, v, name.get(), &stored), "td_attget_stored");
            if (short_status == TD_NOERR && (stored_status != TD_NOERR || stored != value))
                fail("td_attget_short and td_attget_stored disagree", stored_status);
        }
    }
}

// The rows to read: all of them, or the first and last ones within the
// budget.
bool row_wanted(std::int64_t r, std::int64_t rows, std::int64_t columns)
{
    if (rows * columns <= kSampleBudget)
        return true;
    const std::int64_t edge = std::max<std::int64_t>(1, kSampleBudget / columns / 2);
    return r < edge || r >= rows - edge;
}

// Reads a block as floats and as bytes and checks both against the bytes
// of the file; returns the status of the float read.
int read_block(int id, int varid, const fuzz::ExpectedReads& expected, const fuzz::Index2& start,
               const fuzz::Index2& count, std::size_t room)
{
    const std::size_t n = std::size_t{count[0]} * count[1];
    // Blocks larger than `room` (refused, since they leave the image) get
    // no buffer at all.
    const std::size_t held = n <= room ? std::max<std::size_t>(n, 1) : 1;
    auto floats = exact<float>(held);
    auto bytes = exact<std::uint8_t>(held);
    const int fs =
        check(td_varget_float(id, varid, start.data(), count.data(), n <= room ? floats.get() : nullptr),
              "td_varget_float");
    const int bs =
        check(td_varget_byte(id, varid, start.data(), count.data(), n <= room ? bytes.get() : nullptr),
              "td_varget_byte");
    if (n <= room) {
        if (const char* what = expected.check(varid, start, count, TD_FLOAT, fs, floats.get()))
            fail(what, fs);
        if (const char* what = expected.check(varid, start, count, TD_BYTE, bs, bytes.get()))
            fail(what, bs);
    } else if (fs == TD_NOERR || bs == TD_NOERR) {
        fail("a block larger than the image was read", fs);
    }
    return fs;
}

void read_rows(int id, int varid, const fuzz::ExpectedReads& expected, int rows, int columns)
{
    if (rows <= 0 || columns <= 0)
        return;
    const auto width = static_cast<std::uint32_t>(columns);
    int failures = 0;
    for (std::int64_t r = 0; r < rows && failures < kMaxFailures; ++r) {
        if (row_wanted(r, rows, columns))
            failures +=
                read_block(id, varid, expected, {static_cast<std::uint32_t>(r), 0}, {1, width}, width) != 0;
    }
}

// A few blocks picked by the input: the whole image when it is small, and
// windows anywhere (with the shift, crossing the edges) whose corners come
// from the input's last bytes; then blocks outside the image, an empty
// block and a count that wraps around in 32 bits.
void read_blocks(int id, const fuzz::ExpectedReads& expected, const std::uint8_t* data, std::size_t size,
                 int rows, int columns)
{
    const auto r = static_cast<std::uint32_t>(std::max(rows, 0));
    const auto c = static_cast<std::uint32_t>(std::max(columns, 0));
    std::vector<std::pair<fuzz::Index2, fuzz::Index2>> blocks;
    if (std::int64_t{r} * c <= kSampleBudget)
        blocks.push_back({{0, 0}, {r, c}});
    const auto pick = [&](std::size_t k, std::uint32_t limit) -> std::uint32_t {
        if (limit == 0 || size < k + 1)
            return 0;
        return static_cast<std::uint32_t>(data[size - 1 - k]) % limit;
    };
    for (std::size_t k = 0; k + 4 <= 12; k += 4) {
        const std::uint32_t r0 = pick(k, r), c0 = pick(k + 1, c);
        const std::uint32_t h = 1 + pick(k + 2, std::min<std::uint32_t>(64, r - r0 + 1));
        const std::uint32_t w = 1 + pick(k + 3, std::min<std::uint32_t>(64, c - c0 + 1));
        blocks.push_back({{r0, c0}, {h, w}});
    }
    blocks.push_back({{r, 0}, {1, 1}});
    blocks.push_back({{0, c}, {1, 1}});
    blocks.push_back({{0, 0}, {0, 0}});
    blocks.push_back({{1, 0}, {0xFFFFFFFFu, 1}});
    blocks.push_back({{0, 1}, {1, 0xFFFFFFFFu}});
    // A damaged stream or a short file fails every read alike: a few such
    // failures say all there is.  Refusals of a block or a variable are
    // cheap and all checked.
    int failures = 0;
    for (const auto& [start, count] : blocks) {
        for (int varid = 0; varid <= 2 && failures < kMaxFailures; ++varid) {
            const int status = read_block(id, varid, expected, start, count, kSampleBudget);
            failures += status != TD_NOERR && status != TD_EINDEX && status != TD_EBADVARID;
        }
    }
}

// The input in memory, read through td_open_callbacks a few bytes at a
// time, so that every read of the library takes several calls.
// Some inputs make every read at or past `failing` fail, which must look
// like a file that ends there.
struct MemoryInput {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t piece;
    std::size_t failing;
    bool closed = false;
};

std::int64_t read_memory(void* user, std::int64_t offset, void* buffer, std::size_t length)
{
    auto* in = static_cast<MemoryInput*>(user);
    if (offset < 0 || static_cast<std::uint64_t>(offset) >= in->size)
        fail("the library read at or beyond the size", static_cast<int>(offset));
    if (static_cast<std::size_t>(offset) >= in->failing)
        return -1;
    const std::size_t n = std::min(
        {length, in->piece, in->size - static_cast<std::size_t>(offset), in->failing - std::size_t(offset)});
    std::memcpy(buffer, in->data + offset, n);
    return static_cast<std::int64_t>(n);
}

std::int64_t memory_size(void* user)
{
    return static_cast<std::int64_t>(static_cast<MemoryInput*>(user)->size);
}

void close_memory(void* user)
{
    auto* in = static_cast<MemoryInput*>(user);
    if (in->closed)
        fail("the close callback was called twice", 0);
    in->closed = true;
}

// The whole work on one open dataset: inquiries, rows, blocks, close.
void read_dataset(int id, const fuzz::ExpectedReads& expected, const std::uint8_t* data, std::size_t size)
{
    int rows = 0, columns = 0;
    inquire(id, rows, columns);
    read_rows(id, 0, expected, rows, columns);
    read_rows(id, 1, expected, rows, columns);
    read_blocks(id, expected, data, size, rows, columns);
    if (const int s = check(td_close(id), "td_close"); s != TD_NOERR)
        fail("td_close of a read-only dataset failed", s);
    fuzz::require_no_open_dataset();
}

// A file written in place under an open dataset: one byte appended.  Its
// next read must fail, with 46 for a compressed dataset and 45 for any
// other, rather than mix two files.
void change_in_place(const std::string& path, const fuzz::ExpectedReads& expected, const std::uint8_t* data,
                     std::size_t size)
{
    int id = -1;
    if (expected.rows() <= 0 || expected.columns() <= 0 ||
        td_open(path.c_str(), TD_READONLY, &id) != TD_NOERR)
        return;
    std::FILE* f = std::fopen(path.c_str(), "ab");
    if (f == nullptr || std::fputc(0, f) == EOF || std::fclose(f) != 0)
        fail("cannot change the input in place", 0);
    const bool compressed =
        (expected.data_id() == 0 || expected.data_id() == 1) && fuzz::header_field(data, size, 78, 0) == 2;
    float value = 0;
    const std::uint32_t origin[2]{0, 0}, one[2]{1, 1};
    if (const int s = td_varget_float(id, 0, origin, one, &value);
        s != (compressed ? TD_ECOMPFILE : TD_EUNCOMPFILE))
        fail("a file changed under an open dataset was read", s);
    int changed = 0;
    if (td_fileinq(id, nullptr, nullptr, nullptr, nullptr, &changed) != TD_NOERR || changed != 1)
        fail("td_fileinq does not see a file changed in place", changed);
    (void)td_close(id);
}

// Names and numbers that name nothing are refused, each with its own
// status, whatever the dataset holds; every status has a message.
void names_that_name_nothing(int id)
{
    int dim = -1, length = -1, varid = -1;
    std::int16_t value = 0;
    const struct {
        int got, want;
    } refusals[] = {
        {td_dimid(id, nullptr, &dim), TD_EBADDIM},
        {td_dimid(id, "nothing", &dim), TD_EBADDIM},
        {td_diminq(id, 2, nullptr, &length), TD_EBADDIMID},
        {td_diminq(id, -1, nullptr, &length), TD_EBADDIMID},
        {td_varid(id, nullptr, &varid), TD_EBADVAR},
        {td_varid(id, "nothing", &varid), TD_EBADVAR},
        {td_attget_short(id, 0, nullptr, &value), TD_EBADATT},
        {td_attget_short(id, 0, "nothing", &value), TD_EBADATT},
        {td_attget_short(id, 7, "channel_number", &value), TD_EBADVARID},
    };
    for (const auto& r : refusals)
        if (r.got != r.want)
            fail("a name or number that names nothing gave another status", r.got);
    for (const int status : {-1, TD_EATTRO + 1, 1000})
        if (td_strerror(status) == nullptr || *td_strerror(status) == '\0')
            fail("a status without a message", status);
}

// Once a process, on the first input that opens: the calls given no
// callbacks, bad ids and handles, a pool handle closed while in use, and
// one dataset more than the library has slots.
void misuse_once(const std::string& path)
{
    static bool done = false;
    if (done)
        return;
    done = true;
    const auto no_size = [](void*) -> std::int64_t { return -1; };
    int id = -1, handle = -1;
    const struct {
        int got, want;
    } refusals[] = {
        {td_open_callbacks(nullptr, nullptr, memory_size, close_memory, &id), TD_EACCESS},
        {td_open_callbacks(nullptr, read_memory, no_size, nullptr, &id), TD_EACCESS},
        {td_close(-1), TD_EBADID},
        {td_close(TD_MAX_DATASETS), TD_EBADID},
        {td_pool_open(nullptr, &handle), TD_EACCESS},
        {td_pool_open_callbacks(nullptr, nullptr, memory_size, close_memory, &handle), TD_EACCESS},
        {td_pool_acquire(-5, &id), TD_EBADID},
        {td_pool_release(-5), TD_EBADID},
        {td_pool_close(-5), TD_EBADID},
    };
    for (const auto& r : refusals)
        if (r.got != r.want)
            fail("a call without callbacks, or with a bad id or handle, gave another status", r.got);

    if (td_pool_open(path.c_str(), &handle) != TD_NOERR || td_pool_acquire(handle, &id) != TD_NOERR ||
        td_pool_close(handle) != TD_NOERR || td_pool_acquire(handle, &id) != TD_EBADID ||
        td_pool_close(handle) != TD_EBADID || td_pool_release(handle) != TD_NOERR ||
        td_pool_release(handle) != TD_EBADID)
        fail("a pool handle closed while in use was not closed at its release", 0);

    std::vector<int> ids;
    int status = TD_NOERR;
    while (status == TD_NOERR && ids.size() <= TD_MAX_DATASETS) {
        status = td_open(path.c_str(), TD_READONLY, &id);
        if (status == TD_NOERR)
            ids.push_back(id);
    }
    if (status != TD_EMAXDS || ids.size() != TD_MAX_DATASETS)
        fail("the library's slots did not run out at their number", status);
    for (const int open : ids)
        (void)td_close(open);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& path = fuzz::write_input(data, size);
    const fuzz::ExpectedReads expected({data, size});
    int id = -1;
    const int opened = check(td_open(path.c_str(), TD_READONLY, &id), "td_open");
    if (opened != expected.open_status())
        fail("td_open gave another status than the bytes call for", opened);
    if (const int identified = td_identify(data, std::min<std::size_t>(size, TD_IDENTIFY_SIZE));
        identified != opened)
        fail("td_identify disagrees with td_open", identified);
    if (opened == TD_NOERR) {
        if (td_enddef(id) != TD_ENOTINDEFINE)
            fail("td_enddef of a dataset in data mode", 0);
        names_that_name_nothing(id);
        read_dataset(id, expected, data, size);
    }
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    if (td_open(path.c_str(), 2, &id) != TD_EMODE || td_open(nullptr, TD_READONLY, &id) != TD_EACCESS ||
        td_open(folder.c_str(), TD_READONLY, &id) != TD_EACCESS)
        fail("td_open took a bad mode, no path or a folder", 0);
    if (opened == TD_NOERR)
        misuse_once(path);
    fuzz::require_no_open_dataset();

    // The same bytes through caller callbacks: the same answers, or those
    // of a file that ends where the reads start failing.
    const std::size_t failing = size % 4 == 3 ? size - size / 8 - 1 : size;
    const fuzz::ExpectedReads cut({data, failing});
    MemoryInput memory{data, size, 1 + size % 61, failing};
    const int on_callbacks =
        check(td_open_callbacks(&memory, read_memory, memory_size, close_memory, &id), "td_open_callbacks");
    if (on_callbacks != cut.open_status())
        fail("td_open_callbacks gave another status than the bytes call for", on_callbacks);
    if (on_callbacks == TD_NOERR) {
        read_dataset(id, cut, data, failing);
        if (!memory.closed)
            fail("td_close did not call the close callback", 0);
    } else if (memory.closed) {
        fail("a failed td_open_callbacks called the close callback", on_callbacks);
    }

    if (opened == TD_NOERR)
        change_in_place(path, expected, data, size);
    fuzz::require_no_open_dataset();
    return 0;
}
