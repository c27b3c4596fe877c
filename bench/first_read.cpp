// first_read.cpp - the cost of the first read of a compressed dataset,
// which walks and checks its whole stream to index its rows, against the
// expansion into an uncompressed temporary copy that the library keeps for
// its write paths (and that reads used before).
//
//   tdbench_first_read DATASET REPS
//
// Each repetition opens the dataset twice: once to read one sample (the
// index pass) and once to expand it.  Writes one line on standard error:
//   first-read: index=S expansion=S index_bytes=N
// with the medians in seconds and the size of the row index in bytes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "compression.h"
#include "registry.h"
#include "tidewell.h"

namespace {

using clock_type = std::chrono::steady_clock;

[[noreturn]] void fail(const char* what, int status)
{
    std::fprintf(stderr, "tdbench_first_read: %s: %s\n", what, td_strerror(status));
    std::exit(1);
}

int open_or_fail(const char* path)
{
    int id = -1;
    if (const int s = td_open(path, TD_READONLY, &id); s != TD_NOERR)
        fail(path, s);
    return id;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: tdbench_first_read DATASET REPS\n");
        return 2;
    }
    const char* path = argv[1];
    const int reps = std::max(1, std::atoi(argv[2]));
    std::vector<double> index, expansion;
    std::size_t index_bytes = 0;
    for (int rep = 0; rep < reps; ++rep) {
        int id = open_or_fail(path);
        const std::uint32_t start[2] = {0, 0}, count[2] = {1, 1};
        float sample = 0.0f;
        auto t0 = clock_type::now();
        if (const int s = td_varget_float(id, 0, start, count, &sample); s != TD_NOERR)
            fail("first read", s);
        index.push_back(std::chrono::duration<double>(clock_type::now() - t0).count());
        index_bytes = (static_cast<std::size_t>(td::find_dataset(id)->rows) + 1) * sizeof(td::RowStart);
        if (const int s = td_close(id); s != TD_NOERR)
            fail("close", s);

        id = open_or_fail(path);
        t0 = clock_type::now();
        if (const int s = td::decompress_id(id); s != TD_NOERR)
            fail("expansion", s);
        expansion.push_back(std::chrono::duration<double>(clock_type::now() - t0).count());
        if (const int s = td_close(id); s != TD_NOERR)
            fail("close", s);
    }
    std::fprintf(stderr, "first-read: index=%.6f expansion=%.6f index_bytes=%zu\n", median(index),
                 median(expansion), index_bytes);
    return 0;
}
