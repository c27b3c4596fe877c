// grid.cpp - the latitude and longitude of the rows and columns of a
// linear or Mercator dataset.
//
// The header gives the latitudes of the first and last rows and the
// longitudes of the first and last columns, and does not say which points
// of those pixels it means.  They are taken as the centres of the corner
// pixels: the header counts its rows and columns the same way (start_row
// to end_row), and a remapping program places each output pixel by the
// coordinates of its centre.  Mercator is taken on a sphere: the header
// names no ellipsoid, and since the rows are fitted between the two header
// latitudes, the choice only moves rows inside the grid.
#include <cmath>
#include <cstddef>
#include <numbers>

#include "header_fields.h"
#include "registry.h"
#include "tidewell.h"

namespace td {

namespace {

constexpr double kDegree = std::numbers::pi / 180.0;

double mercator_y(double latitude) noexcept
{
    return std::log(std::tan(std::numbers::pi / 4.0 + latitude * kDegree / 2.0));
}

double mercator_latitude(double y) noexcept
{
    return (2.0 * std::atan(std::exp(y)) - std::numbers::pi / 2.0) / kDegree;
}

// n values from first to last, evenly spaced; the ends exactly as given.
template <class Map>
void spaced(double first, double last, int n, double* out, Map map) noexcept
{
    for (int i = 0; i < n; ++i)
        out[i] = map(first + (last - first) * i / (n - 1));
}

struct Corners {
    std::int16_t projection = 0;
    double start_latitude = 0, end_latitude = 0, start_longitude = 0, end_longitude = 0;
};

[[nodiscard]] int read_corners(Dataset& ds, Corners& c)
{
    std::int16_t stored[4]{};
    const std::int64_t offsets[4] = {kOffsetStartLatitude, kOffsetEndLatitude, kOffsetStartLongitude,
                                     kOffsetEndLongitude};
    if (read_field(ds.current, kOffsetProjectionType, c.projection) != 0)
        return TD_EREADATT;
    for (std::size_t k = 0; k < 4; ++k)
        if (read_field(ds.current, offsets[k], stored[k]) != 0)
            return TD_EREADATT;
    c.start_latitude = stored[0] / kDegreeScale;
    c.end_latitude = stored[1] / kDegreeScale;
    c.start_longitude = stored[2] / kDegreeScale;
    c.end_longitude = stored[3] / kDegreeScale;
    return TD_NOERR;
}

int grid_of(const Corners& c, int rows, int columns) noexcept
{
    const int grid = c.projection == kProjectionLinear     ? TD_GRID_LINEAR
                     : c.projection == kProjectionMercator ? TD_GRID_MERCATOR
                                                           : TD_GRID_NONE;
    // No spacing to derive, or a pole, which a Mercator map never reaches.
    if (grid == TD_GRID_NONE || rows < 2 || columns < 2 || !(std::fabs(c.start_latitude) < 90.0) ||
        !(std::fabs(c.end_latitude) < 90.0) || c.start_latitude == c.end_latitude ||
        c.start_longitude == c.end_longitude)
        return TD_GRID_NONE;
    return grid;
}

int grid_inquire(Dataset& ds, int* grid, double* latitudes, double* longitudes)
{
    Corners c;
    if (const int status = read_corners(ds, c); status != TD_NOERR)
        return status;
    const int found = grid_of(c, ds.rows, ds.columns);
    if (grid != nullptr)
        *grid = found;
    if (found == TD_GRID_NONE)
        return TD_NOERR;
    if (longitudes != nullptr) {
        // Columns run east: across the antimeridian the longitudes go on
        // past 180 and keep increasing.
        const double east = c.end_longitude < c.start_longitude ? c.end_longitude + 360.0 : c.end_longitude;
        spaced(c.start_longitude, east, ds.columns, longitudes, [](double x) { return x; });
        longitudes[ds.columns - 1] = east;
    }
    if (latitudes != nullptr) {
        if (found == TD_GRID_LINEAR)
            spaced(c.start_latitude, c.end_latitude, ds.rows, latitudes, [](double x) { return x; });
        else
            spaced(mercator_y(c.start_latitude), mercator_y(c.end_latitude), ds.rows, latitudes,
                   mercator_latitude);
        latitudes[0] = c.start_latitude;
        latitudes[ds.rows - 1] = c.end_latitude;
    }
    return TD_NOERR;
}

} // namespace

} // namespace td

extern "C" int td_gridinq(int id, int* grid, double* latitudes, double* longitudes)
{
    return td::with_dataset(
        id, [&](td::Dataset& ds) { return td::grid_inquire(ds, grid, latitudes, longitudes); });
}
