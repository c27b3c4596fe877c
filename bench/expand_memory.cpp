// expand_memory - peak memory and time of reading, expanding and
// recompressing a large compressed dataset.  Run each step under
// /usr/bin/time -v to see the peak resident set:
//
//   expand_memory make PATH [SIZE]   write a SIZE x SIZE compressed infrared
//                                    dataset (default 4096)
//   expand_memory read PATH          open read-only, read every row of the
//                                    data and graphics variables (in place,
//                                    through the row index), close
//   expand_memory rewrite PATH       open read-write, expand the dataset as
//                                    a write does, read row 0, write it
//                                    back as it reads (td_varput_*, which
//                                    marks the dataset changed), close
//                                    (which compresses it again into a new
//                                    file)
//   expand_memory idle               nothing: the baseline of the process
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dataset_writer.h"
#include "tidewell.h"

namespace {

int fail(const char* what, int status)
{
    std::fprintf(stderr, "expand_memory: %s: %s\n", what, td_strerror(status));
    return 1;
}

int make(const std::string& path, int size)
{
    tdw::DatasetDescription desc;
    desc.data_id = tdw::kInfrared;
    desc.rows = static_cast<std::int16_t>(size);
    desc.columns = static_cast<std::int16_t>(size);
    desc.compressed = true;
    // Smooth gradients with some jumps (absolute codes), and plane runs.
    desc.value = [](int r, int c) { return ((r * 7 + c * 3) % 3900) - 1950 + ((c % 97 == 0) ? 80 : 0); };
    desc.nibble = [](int r, int c) { return ((r / 16) + (c / 300)) % 16; };
    tdw::write_dataset(path, desc);
    return 0;
}

int read_all(const std::string& path, int mode, bool every_row)
{
    const auto t0 = std::chrono::steady_clock::now();
    int id = -1;
    if (const int s = td_open(path.c_str(), mode, &id); s != TD_NOERR)
        return fail("td_open", s);
    int rows = 0, columns = 0, dim = 0;
    if (td_dimid(id, "rows", &dim) != TD_NOERR || td_diminq(id, dim, nullptr, &rows) != TD_NOERR ||
        td_dimid(id, "columns", &dim) != TD_NOERR || td_diminq(id, dim, nullptr, &columns) != TD_NOERR)
        return fail("dimensions", TD_EREADDIM);
    std::vector<float> data(static_cast<std::size_t>(columns));
    std::vector<std::uint8_t> planes(static_cast<std::size_t>(columns));
    double sum = 0;
    unsigned long plane_sum = 0;
    const int last = every_row ? rows : 1;
    for (int r = 0; r < last; ++r) {
        const std::uint32_t start[2]{static_cast<std::uint32_t>(r), 0};
        const std::uint32_t count[2]{1, static_cast<std::uint32_t>(columns)};
        if (const int s = td_varget_float(id, 0, start, count, data.data()); s != TD_NOERR)
            return fail("td_varget_float", s);
        if (const int s = td_varget_byte(id, 1, start, count, planes.data()); s != TD_NOERR)
            return fail("td_varget_byte", s);
        for (int c = 0; c < columns; ++c) {
            sum += data[static_cast<std::size_t>(c)];
            plane_sum += planes[static_cast<std::size_t>(c)];
        }
    }
    if (mode == TD_WRITE) {
        // Only a changed dataset is written back on close: row 0 is written
        // back as it reads (a value read and written back reads the same).
        const std::uint32_t start[2]{0, 0}, count[2]{1, static_cast<std::uint32_t>(columns)};
        if (const int s = td_varget_float(id, 0, start, count, data.data()); s != TD_NOERR)
            return fail("row 0", s);
        if (const int s = td_varget_byte(id, 1, start, count, planes.data()); s != TD_NOERR)
            return fail("row 0", s);
        if (const int s = td_varput_float(id, 0, start, count, data.data()); s != TD_NOERR)
            return fail("td_varput_float", s);
        if (const int s = td_varput_byte(id, 1, start, count, planes.data()); s != TD_NOERR)
            return fail("td_varput_byte", s);
    }
    const auto t1 = std::chrono::steady_clock::now();
    if (const int s = td_close(id); s != TD_NOERR)
        return fail("td_close", s);
    const auto t2 = std::chrono::steady_clock::now();
    using ms = std::chrono::duration<double, std::milli>;
    std::printf("%d x %d: rows read %d, checksum %.3f / %lu, open+reads %.1f ms, close %.1f ms\n", rows,
                columns, last, sum, plane_sum, ms(t1 - t0).count(), ms(t2 - t1).count());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string step = argc > 1 ? argv[1] : "";
    try {
        if (step == "make" && argc >= 3)
            return make(argv[2], argc > 3 ? std::atoi(argv[3]) : 4096);
        if (step == "read" && argc >= 3)
            return read_all(argv[2], TD_READONLY, true);
        if (step == "rewrite" && argc >= 3)
            return read_all(argv[2], TD_WRITE, false);
        if (step == "idle")
            return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "expand_memory: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: expand_memory make PATH [SIZE] | read PATH | rewrite PATH | idle\n");
    return 2;
}
