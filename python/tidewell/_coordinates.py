"""Latitude and longitude of the rows and columns of a mapped dataset.

The header's start_latitude / end_latitude are the latitudes of the centres
of the first and last rows, start_longitude / end_longitude the longitudes of
the centres of the first and last columns.

- linear (projection_type 3): an equal-angle grid, latitude linear along
  the rows and longitude linear along the columns.
- mercator (projection_type 1): longitude linear along the columns; along
  the rows the Mercator ordinate y = ln(tan(pi/4 + latitude/2)) (on a
  sphere) is linear, so the rows are evenly spaced in y, not in latitude.

Longitudes are interpolated as they stand, without unwrapping across the
antimeridian.  Other projections (unmapped, polar) have no such coordinates.
"""

import numpy as np

MERCATOR = 1
LINEAR = 3


def _mercator_y(latitude):
    return np.log(np.tan(np.pi / 4 + np.radians(latitude) / 2))


def _mercator_latitude(y):
    return np.degrees(2 * np.arctan(np.exp(y)) - np.pi / 2)


def _spaced(first, last, n):
    values = np.linspace(first, last, max(n, 0))
    if n > 0:
        values[0], values[-1] = first, last
    return values


def latitude_longitude(projection_type, rows, columns, start_latitude, end_latitude,
                       start_longitude, end_longitude):
    """(latitude per row, longitude per column) as float64 arrays, or None
    when the projection has no such grid or its corners are not on the
    globe (latitudes beyond +-90, or reaching them under Mercator)."""
    if projection_type not in (MERCATOR, LINEAR):
        return None
    limit = 90.0
    if any(abs(lat) > limit for lat in (start_latitude, end_latitude)):
        return None
    if projection_type == MERCATOR and any(abs(lat) >= limit
                                           for lat in (start_latitude, end_latitude)):
        return None
    longitude = _spaced(start_longitude, end_longitude, columns)
    if projection_type == LINEAR:
        latitude = _spaced(start_latitude, end_latitude, rows)
    else:
        y = _spaced(_mercator_y(start_latitude), _mercator_y(end_latitude), rows)
        latitude = _mercator_latitude(y)
        if rows > 0:
            latitude[0], latitude[-1] = start_latitude, end_latitude
    return latitude, longitude
