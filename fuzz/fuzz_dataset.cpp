// fuzz_dataset.cpp - the dataset library on arbitrary bytes: open read-only,
// every inquiry, every attribute of the table by name, every row of both
// variables as floats and as bytes, then close.
//
// Besides the sanitizers, it checks what must hold whatever the bytes are:
// statuses stay in 0 to 51, text results fit the documented buffers (which
// are allocated at exactly those sizes, so AddressSanitizer sees one byte
// too many), blocks outside the image are refused, a short attribute reads
// the same through both of its operations, and no dataset stays open.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "input_file.h"
#include "tidewell.h"

namespace {

// Samples read per variable for one input.  Every row is read while the
// image holds at most this many samples; a larger one (up to 32767 x 32767
// from a few header bytes) has its first and last rows read, so that one
// input cannot take minutes.
constexpr std::int64_t kSampleBudget = 1 << 18;

// A failed first read of a compressed dataset walks its stream again at
// the next read, so every row of a broken stream would walk it anew; after
// a few failures the rest of a variable's rows say nothing new.
constexpr int kMaxFailures = 4;

[[noreturn]] void fail(const char* what, int status)
{
    std::fprintf(stderr, "fuzz_dataset: %s (status %d)\n", what, status);
    std::abort();
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

void read_rows(int id, int varid, int rows, int columns)
{
    if (rows <= 0 || columns <= 0)
        return;
    const auto n = static_cast<std::size_t>(columns);
    auto floats = exact<float>(n);
    auto bytes = exact<std::uint8_t>(n);
    int failures = 0;
    for (std::int64_t r = 0; r < rows && failures < kMaxFailures; ++r) {
        if (!row_wanted(r, rows, columns))
            continue;
        const std::uint32_t start[2] = {static_cast<std::uint32_t>(r), 0};
        const std::uint32_t count[2] = {1, static_cast<std::uint32_t>(columns)};
        const int fs = check(td_varget_float(id, varid, start, count, floats.get()), "td_varget_float");
        const int bs = check(td_varget_byte(id, varid, start, count, bytes.get()), "td_varget_byte");
        failures += (fs != TD_NOERR) + (bs != TD_NOERR && bs != TD_ERANGE);
        if (fs == TD_NOERR && varid == 1) {
            for (std::size_t c = 0; c < n; ++c)
                if (!(floats[c] >= 0.0f && floats[c] <= 15.0f))
                    fail("a graphics nibble outside 0 to 15", static_cast<int>(r));
        }
    }
    // Blocks outside the image, an empty block and a count that wraps
    // around in 32 bits are all refused.
    const std::uint32_t starts[][2] = {{static_cast<std::uint32_t>(rows), 0},
                                       {0, static_cast<std::uint32_t>(columns)},
                                       {0, 0},
                                       {1, 0}};
    const std::uint32_t counts[][2] = {{1, 1}, {1, 1}, {0, 0}, {0xFFFFFFFFu, 1}};
    for (std::size_t i = 0; i < std::size(starts); ++i) {
        if (check(td_varget_float(id, varid, starts[i], counts[i], floats.get()), "td_varget_float") ==
            TD_NOERR)
            fail("a block outside the image was read", static_cast<int>(i));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& path = fuzz::write_input(data, size);
    int id = -1;
    if (check(td_open(path.c_str(), TD_READONLY, &id), "td_open") != TD_NOERR) {
        fuzz::require_no_open_dataset();
        return 0;
    }
    int rows = 0, columns = 0;
    inquire(id, rows, columns);
    read_rows(id, 0, rows, columns);
    read_rows(id, 1, rows, columns);
    if (const int s = check(td_close(id), "td_close"); s != TD_NOERR)
        fail("td_close of a read-only dataset failed", s);
    fuzz::require_no_open_dataset();
    return 0;
}
