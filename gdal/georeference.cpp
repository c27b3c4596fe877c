// georeference.cpp - geotransforms of the library's linear and Mercator
// grids.
#include "georeference.h"

#include <memory>

#include "ogr_spatialref.h"
#include "tidewell.h"

namespace tdgdal {

namespace {

// Longitude/latitude to the coordinates of an EPSG system, x first.
bool to_epsg(int epsg, double& x, double& y)
{
    if (epsg == 4326)
        return true;
    OGRSpatialReference from, to;
    if (from.importFromEPSG(4326) != OGRERR_NONE || to.importFromEPSG(epsg) != OGRERR_NONE)
        return false;
    from.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    to.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    const std::unique_ptr<OGRCoordinateTransformation> transformation(
        OGRCreateCoordinateTransformation(&from, &to));
    return transformation && transformation->Transform(1, &x, &y);
}

} // namespace

std::optional<GridPlacement> place_grid(const GridCorners& c, int rows, int columns)
{
    if ((c.grid != TD_GRID_LINEAR && c.grid != TD_GRID_MERCATOR) || rows < 2 || columns < 2)
        return std::nullopt;
    GridPlacement out;
    out.epsg = c.grid == TD_GRID_LINEAR ? 4326 : 3857;
    double x0 = c.first_longitude, y0 = c.first_latitude;
    double x1 = c.last_longitude, y1 = c.last_latitude;
    if (!to_epsg(out.epsg, x0, y0) || !to_epsg(out.epsg, x1, y1))
        return std::nullopt;
    // Longitudes past 180 (across the antimeridian) go on eastward in
    // Mercator metres too.
    if (out.epsg == 3857 && x1 <= x0)
        x1 += 2.0 * 20037508.342789244;
    const double width = (x1 - x0) / (columns - 1);
    const double height = (y1 - y0) / (rows - 1);
    out.transform = {x0 - width / 2.0, width, 0.0, y0 - height / 2.0, 0.0, height};
    return out;
}

} // namespace tdgdal
