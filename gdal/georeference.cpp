// georeference.cpp - geotransforms of linear and Mercator grids.
#include "georeference.h"

#include <cmath>
#include <numbers>

namespace tdgdal {

namespace {

constexpr double kSphereRadius = 6378137.0;   // EPSG:3857: the WGS 84 semi-major axis
constexpr double kDegree = std::numbers::pi / 180.0;

double mercator_x(double longitude)
{
    return kSphereRadius * longitude * kDegree;
}

double mercator_y(double latitude)
{
    return kSphereRadius * std::log(std::tan(std::numbers::pi / 4.0 + latitude * kDegree / 2.0));
}

} // namespace

int grid_epsg(std::string_view projection)
{
    if (projection == "linear")
        return 4326;
    if (projection == "mercator")
        return 3857;
    return 0;
}

std::optional<std::array<double, 6>> grid_geotransform(std::string_view projection,
                                                       const CornerCentres& corners, int rows,
                                                       int columns)
{
    const int epsg = grid_epsg(projection);
    if (epsg == 0 || rows < 2 || columns < 2)
        return std::nullopt;
    const bool latitudes_valid = std::fabs(corners.start_latitude) < 90.0 &&
                                 std::fabs(corners.end_latitude) < 90.0 &&
                                 corners.start_latitude != corners.end_latitude;
    if (!latitudes_valid || corners.start_longitude == corners.end_longitude)
        return std::nullopt;
    double west = corners.start_longitude;
    double east = corners.end_longitude;
    if (east < west)
        east += 360.0;   // across the antimeridian

    double x0 = west;
    double x1 = east;
    double y0 = corners.start_latitude;
    double y1 = corners.end_latitude;
    if (epsg == 3857) {
        x0 = mercator_x(x0);
        x1 = mercator_x(x1);
        y0 = mercator_y(y0);
        y1 = mercator_y(y1);
    }
    const double width = (x1 - x0) / (columns - 1);
    const double height = (y1 - y0) / (rows - 1);
    return std::array<double, 6>{x0 - width / 2.0, width, 0.0, y0 - height / 2.0, 0.0, height};
}

} // namespace tdgdal
