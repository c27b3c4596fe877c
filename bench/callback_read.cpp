// callback_read.cpp - reading a whole dataset through td_open against
// reading the same file through td_open_callbacks, with callbacks of the
// plainest kind a C caller writes (pread on a descriptor, fstat for the
// size), so that the difference is the library's own cost of the callback
// source.
//
//   tdbench_callback_read DATASET REPS
//
// Each repetition reads every row of the data variable (floats) and of the
// graphics variable (bytes) row by row, as the converter does, once by path
// and once by callbacks, in turns; the first read of a compressed dataset
// (its index pass) is part of each.  The two reads must give the same
// values.  Writes one line on standard error:
//   callback-read: local=S callbacks=S local_cpu=S callbacks_cpu=S
// with the medians in seconds of the wall clock and of the process's CPU
// time (which a busy machine disturbs less).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tidewell.h"

namespace {

using clock_type = std::chrono::steady_clock;

// The process's CPU time in seconds.
double cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct Times {
    double wall = 0.0;
    double cpu = 0.0;
};

[[noreturn]] void fail(const char* what, int status)
{
    std::fprintf(stderr, "tdbench_callback_read: %s: %s\n", what, td_strerror(status));
    std::exit(1);
}

std::int64_t read_fd(void* user, std::int64_t offset, void* buffer, std::size_t length)
{
    const int fd = *static_cast<int*>(user);
    for (;;) {
        const ssize_t got = pread(fd, buffer, length, static_cast<off_t>(offset));
        if (got >= 0)
            return got;
        if (errno != EINTR)
            return -1;
    }
}

std::int64_t size_fd(void* user)
{
    struct stat st {};
    return fstat(*static_cast<int*>(user), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

void close_fd(void* user)
{
    ::close(*static_cast<int*>(user));
}

// Folds a row's bytes into a digest.
void fold(std::uint64_t& digest, const void* data, std::size_t n)
{
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < n; ++i)
        digest = (digest ^ p[i]) * 1099511628211ull;
}

// Reads every row of both variables; returns the seconds spent in the td_
// calls from the open to the close (the digest of the values, left in
// `digest`, is not counted).
Times read_all(const char* path, bool by_callbacks, std::uint64_t& digest)
{
    static int fd = -1;
    auto t0 = clock_type::now();
    double c0 = cpu_seconds();
    int id = -1;
    if (by_callbacks) {
        fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            fail(path, TD_EACCESS);
        if (const int s = td_open_callbacks(&fd, read_fd, size_fd, close_fd, &id); s != TD_NOERR)
            fail("td_open_callbacks", s);
    } else if (const int s = td_open(path, TD_READONLY, &id); s != TD_NOERR) {
        fail("td_open", s);
    }
    int rows = 0, columns = 0;
    if (const int s = td_diminq(id, 0, nullptr, &rows); s != TD_NOERR)
        fail("rows", s);
    if (const int s = td_diminq(id, 1, nullptr, &columns); s != TD_NOERR)
        fail("columns", s);
    std::vector<float> values(static_cast<std::size_t>(columns));
    std::vector<std::uint8_t> planes(static_cast<std::size_t>(columns));
    digest = 1469598103934665603ull;
    Times spent;
    for (int r = 0; r < rows; ++r) {
        const std::uint32_t start[2] = {static_cast<std::uint32_t>(r), 0};
        const std::uint32_t count[2] = {1, static_cast<std::uint32_t>(columns)};
        if (const int s = td_varget_float(id, 0, start, count, values.data()); s != TD_NOERR)
            fail("data row", s);
        if (const int s = td_varget_byte(id, 1, start, count, planes.data()); s != TD_NOERR)
            fail("graphics row", s);
        spent.wall += std::chrono::duration<double>(clock_type::now() - t0).count();
        spent.cpu += cpu_seconds() - c0;
        fold(digest, values.data(), values.size() * sizeof(float));
        fold(digest, planes.data(), planes.size());
        t0 = clock_type::now();
        c0 = cpu_seconds();
    }
    if (const int s = td_close(id); s != TD_NOERR)
        fail("td_close", s);
    spent.wall += std::chrono::duration<double>(clock_type::now() - t0).count();
    spent.cpu += cpu_seconds() - c0;
    return spent;
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
        std::fprintf(stderr, "usage: tdbench_callback_read DATASET REPS\n");
        return 2;
    }
    const char* path = argv[1];
    const int reps = std::max(1, std::atoi(argv[2]));
    std::vector<double> local, callbacks, local_cpu, callbacks_cpu;
    std::uint64_t a = 0, b = 0;
    (void)read_all(path, false, a); // warms the page cache
    const auto add = [](std::vector<double>& wall, std::vector<double>& cpu, Times t) {
        wall.push_back(t.wall);
        cpu.push_back(t.cpu);
    };
    for (int rep = 0; rep < reps; ++rep) {
        // Alternating which goes first evens out what the machine does meanwhile.
        if (rep % 2 == 0) {
            add(local, local_cpu, read_all(path, false, a));
            add(callbacks, callbacks_cpu, read_all(path, true, b));
        } else {
            add(callbacks, callbacks_cpu, read_all(path, true, b));
            add(local, local_cpu, read_all(path, false, a));
        }
        if (a != b) {
            std::fprintf(stderr, "tdbench_callback_read: the two reads gave different values\n");
            return 1;
        }
    }
    std::fprintf(stderr, "callback-read: local=%.6f callbacks=%.6f local_cpu=%.6f callbacks_cpu=%.6f\n",
                 median(local), median(callbacks), median(local_cpu), median(callbacks_cpu));
    return 0;
}
