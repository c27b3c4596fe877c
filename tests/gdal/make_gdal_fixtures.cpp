// make_gdal_fixtures.cpp - writes the GDAL driver's test datasets into a
// directory, each NAME.tdf with the library's own reads beside it: the data
// variable as native float32 in NAME.f32 and the graphics variable, where
// there is one, as bytes in NAME.u8.  The Python tests compare what GDAL
// tools make of the datasets against these.
//
// Usage: make_gdal_fixtures DIRECTORY
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>

#include "gdal_fixtures.h"
#include "tidewell.h"

namespace {

template <typename T>
void dump(const std::string& path, const std::vector<T>& values)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(values.data()),
              static_cast<std::streamsize>(values.size() * sizeof(T)));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_gdal_fixtures DIRECTORY\n");
        return 2;
    }
    try {
        for (const tdgdal_test::Fixture& fixture : tdgdal_test::gdal_fixtures()) {
            const std::string base = std::string(argv[1]) + "/" + fixture.name;
            tdw::write_dataset(base + ".tdf", fixture.desc);
            const tdgdal_test::LibraryReads reads = tdgdal_test::read_with_library(base + ".tdf");
            if (reads.status != TD_NOERR)
                throw std::runtime_error(base + ".tdf: " + td_strerror(reads.status));
            dump(base + ".f32", reads.data);
            if (!reads.graphics.empty())
                dump(base + ".u8", reads.graphics);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_gdal_fixtures: %s\n", e.what());
        return 1;
    }
    return 0;
}
