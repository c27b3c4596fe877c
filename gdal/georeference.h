// georeference.h - a latitude/longitude grid of the library as GDAL places
// rasters: an EPSG coordinate system and an affine geotransform.
//
// The library gives the latitude of the centre of every row and the
// longitude of the centre of every column (td_gridinq).  In a linear grid
// both change evenly, so the grid is EPSG:4326 with a pixel size of one
// step; in a Mercator grid the rows are evenly spaced in the Mercator
// ordinate, so the grid is EPSG:3857 (spherical Mercator on WGS 84
// coordinates), whose coordinates GDAL's own transformation gives.  The
// raster reaches half a pixel beyond the corner centres on each side.
#pragma once

#include <array>
#include <optional>

namespace tdgdal {

struct GridCorners {
    int grid = 0;               // TD_GRID_LINEAR or TD_GRID_MERCATOR
    double first_latitude = 0;  // centre of the first row
    double last_latitude = 0;   // centre of the last row
    double first_longitude = 0; // centre of the first column
    double last_longitude = 0;  // centre of the last column
};

// The EPSG code and geotransform of the grid; nothing when it cannot be
// placed (no grid, or a transformation that fails).
struct GridPlacement {
    int epsg = 0;
    std::array<double, 6> transform{};
};
std::optional<GridPlacement> place_grid(const GridCorners& corners, int rows, int columns);

} // namespace tdgdal
