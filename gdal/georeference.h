// georeference.h - where a Tidewell grid lies on the Earth.
//
// A "linear" dataset is an equal-angle latitude/longitude grid, a
// "mercator" dataset a Mercator grid; the header gives the latitude of the
// first and last rows and the longitude of the first and last columns.
// These four values are taken as the centres of the corner pixels, so a
// grid of n columns spans n - 1 pixel widths between them and half a pixel
// more on either side.  Columns run east: an end longitude west of
// the start longitude means the grid crosses the antimeridian.  Mercator
// grids are spherical Mercator on WGS 84 coordinates (EPSG:3857).  Polar
// and unmapped datasets, and grids of a single row or column (no spacing
// to derive), have no affine georeferencing.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace tdgdal {

struct CornerCentres {
    double start_latitude = 0;    // centre of the first row
    double end_latitude = 0;      // centre of the last row
    double start_longitude = 0;   // centre of the first column
    double end_longitude = 0;     // centre of the last column
};

// The EPSG code of the grid's coordinate system for a projection_type
// name, or 0 when the grid has none.
int grid_epsg(std::string_view projection);

// The GDAL geotransform of the grid (x of the left edge, pixel width, 0,
// y of the top edge, 0, pixel height), in degrees for EPSG:4326 and metres
// for EPSG:3857; nothing when the grid cannot be placed.
std::optional<std::array<double, 6>> grid_geotransform(std::string_view projection,
                                                       const CornerCentres& corners, int rows,
                                                       int columns);

} // namespace tdgdal
