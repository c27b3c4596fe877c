"""Latitude and longitude of the rows and columns of a mapped dataset.

The header's start_latitude / end_latitude are the latitudes of the centres
of the first and last rows, start_longitude / end_longitude the longitudes of
the centres of the first and last columns.

- linear (projection_type 3): an equal-angle grid, latitude linear along
  the rows and longitude linear along the columns.
- mercator (projection_type 1): longitude linear along the columns; along
  the rows the Mercator ordinate y = ln(tan(pi/4 + latitude/2)) (on a
  sphere) is linear, so the rows are evenly spaced in y, not in latitude.

Columns run east: an end longitude west of the start longitude means the
grid crosses the antimeridian, and the longitudes go on past 180 (170 to
-175 gives 170 to 185).  As in the GDAL driver, a grid has no coordinates
when its projection is neither (polar, unmapped), when it has a single row
or column, when its start and end latitudes or longitudes are equal, or when
a latitude is not strictly between -90 and 90.
"""

import numpy as np

MERCATOR = 1
LINEAR = 3


def _mercator_y(latitude):
    return np.log(np.tan(np.pi / 4 + np.radians(latitude) / 2))


def _mercator_latitude(y):
    return np.degrees(2 * np.arctan(np.exp(y)) - np.pi / 2)


def _spaced(first, last, n):
    values = np.linspace(first, last, n)
    values[0], values[-1] = first, last
    return values


def latitude_longitude(projection_type, rows, columns, start_latitude, end_latitude,
                       start_longitude, end_longitude):
    """(latitude per row, longitude per column) as float64 arrays, or None
    when the dataset has no such grid."""
    if projection_type not in (MERCATOR, LINEAR) or rows < 2 or columns < 2:
        return None
    if not (abs(start_latitude) < 90 and abs(end_latitude) < 90):
        return None
    if start_latitude == end_latitude or start_longitude == end_longitude:
        return None
    if end_longitude < start_longitude:
        end_longitude += 360.0          # across the antimeridian
    longitude = _spaced(start_longitude, end_longitude, columns)
    if projection_type == LINEAR:
        latitude = _spaced(start_latitude, end_latitude, rows)
    else:
        y = _spaced(_mercator_y(start_latitude), _mercator_y(end_latitude), rows)
        latitude = _mercator_latitude(y)
        latitude[0], latitude[-1] = start_latitude, end_latitude
    return latitude, longitude
