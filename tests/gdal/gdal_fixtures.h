// gdal_fixtures.h - the datasets the GDAL driver is tested on: every data
// kind, plain and compressed, each map projection, missing samples,
// graphics planes and a navigational shift.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dataset_writer.h"

namespace tdgdal_test {

struct Fixture {
    std::string name; // file name without ".tdf"
    tdw::DatasetDescription desc;
};

std::vector<Fixture> gdal_fixtures();

// An infrared dataset of raw counts whose count at image row r, column c is
// count(first_row + r, first_column + c), and its graphics planes
// planes(first_row + r, first_column + c), on a linear grid of 1/8 degree
// pixels whose top-left pixel centre is at (lat0, lon0) shifted by those
// rows and columns: tiles of one mosaic.
tdw::DatasetDescription mosaic_tile(int first_row, int first_column, int rows, int columns);
int mosaic_count(int row, int column);
int mosaic_planes(int row, int column);
inline constexpr double kMosaicLat0 = 60.0;
inline constexpr double kMosaicLon0 = -100.0;
inline constexpr double kMosaicStep = 0.125;

// The library's own reads of a dataset, row by row: the data variable as
// floats and, when it has one, the graphics variable.  status is the first
// failing read's (0 when all rows read).
struct LibraryReads {
    int status = 0;
    std::string variable; // the data variable's name
    int rows = 0;
    int columns = 0;
    std::vector<float> data;
    std::vector<std::uint8_t> graphics; // empty without a graphics variable
};
LibraryReads read_with_library(const std::string& path);

// The GDAL name of a dataset's data variable: the path itself for a
// dataset of one variable, its first subdataset for one with graphics.
std::string data_name(const std::string& path, const LibraryReads& reads);
std::string subdataset(const std::string& path, const std::string& component);

} // namespace tdgdal_test
