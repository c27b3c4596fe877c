"""The description of a dataset: attributes, dimensions, variables, kind and
storage equal tdfinfo -j's; units, orbit start time, coordinates, and
xarray's recognition of Tidewell files."""

import io
import os

import numpy as np
import pytest
import xarray as xr

import tidewell
from support import tdfinfo, write_dataset

DEG = "\N{DEGREE SIGN}C"

# name: (description, units, long_name)
DESCRIPTIONS = {
    "every-field": (dict(
        kind="infrared", compressed=True, satellite_id=0xD5C4, satellite_type=1,
        data_set_type=3, projection_type=3, start_latitude=-3905, end_latitude=6400,
        start_longitude=-23041, end_longitude=32767, resolution=147, polar_grid_size=-1,
        polar_grid_points=512, grid_ioffset=-32768, composite_type=5, fill_type=2,
        channel_number=207, sun_normalization=1, limb_correction=1, orbits_processed=3,
        image_block_size=4096, percent_non_zero=71, horizontal_skew=-2, orbit_type=-1,
        orbit_time=1, end_row=3, end_column=69, orbit_start_year=2024, orbit_start_day=175,
        orbit_start_hour_minute=1342, orbit_start_second=27, orbit_start_millisecond=5,
        orbit_end_millisecond=999), DEG, "temperature"),
    "unnamed-codes": (dict(
        kind="visible", satellite_id=0xD5FF, data_set_type=0, projection_type=9,
        calibration_type=1, fill_type=7, orbit_type=0, compression_type=1), "%", "albedo"),
    "raw-counts": (dict(kind="visible", calibration_type=0), None, "raw counts"),
    "scan-time": (dict(kind="ancillary", channel_number=105), "hours", "scan time"),
    "solar-zenith": (dict(kind="ancillary", channel_number=103), "degrees",
                     "solar zenith angle"),
    "cloud": (dict(kind="cloud", columns=140), None, "cloud"),
}


@pytest.mark.parametrize("name", sorted(DESCRIPTIONS))
def test_description_equals_tdfinfo(name, tmp_path):
    description, units, long_name = DESCRIPTIONS[name]
    path = write_dataset(tmp_path / (name + ".tdf"), **description)
    info = tdfinfo(path)
    with tidewell.open(path) as ds:
        assert list(ds.attrs.items()) == list(info["attributes"].items())
        assert [type(v) for v in ds.attrs.values()] == \
            [type(v) for v in info["attributes"].values()]
        assert ds.dimensions == info["dimensions"]
        # The data variable is read as floats whatever its stored type.
        assert [(v.name, v.dtype.kind) for v in ds.variables.values()] == \
            [(v["name"], "u" if v["name"] == "graphics" else "f") for v in info["variables"]]
        assert ds.data_variable == info["variables"][0]["name"]
        assert (ds.data_kind, ds.storage) == (info["data_kind"], info["storage"])
        assert (ds.units, ds.long_name) == (units, long_name)
    with xr.open_dataset(path, engine="tidewell") as x:
        attrs = dict(x.attrs)
        attrs.pop("time", None)
        assert list(attrs.items()) == list(info["attributes"].items())
        data = x[info["variables"][0]["name"]]
        assert data.attrs.get("units") == units and data.attrs["long_name"] == long_name
        if "graphics" in x:
            assert x["graphics"].dtype == np.uint8 and "_FillValue" not in x["graphics"].encoding


# (year, day, hour_minute, second, millisecond): the time attribute, or None.
TIMES = [
    ((99, 132, 1423, 5, 0), "1999-05-12T14:23:05.000Z"),
    ((2000, 60, 0, 0, 0), "2000-02-29T00:00:00.000Z"),
    ((69, 1, 2359, 59, 500), "2069-01-01T23:59:59.500Z"),
    ((70, 365, 7, 0, 1), "1970-12-31T00:07:00.001Z"),
    ((2024, 366, 1200, 0, 1000), "2024-12-31T12:00:00Z"),     # no valid milliseconds
    ((9999, 365, 2359, 59, -1), "9999-12-31T23:59:59Z"),
    ((0, 0, 0, 0, 0), None),             # a header that never had a time
    ((2023, 366, 0, 0, 0), None),
    ((2023, 10, 1260, 0, 0), None),
    ((2023, 10, -5, 0, 0), None),
    ((2023, 10, 0, 60, 0), None),
    ((-1, 10, 0, 0, 0), None),
]


@pytest.mark.parametrize("fields, expected", TIMES)
def test_orbit_start_time(fields, expected, tmp_path):
    names = ("orbit_start_year", "orbit_start_day", "orbit_start_hour_minute",
             "orbit_start_second", "orbit_start_millisecond")
    path = write_dataset(tmp_path / "t.tdf", **dict(zip(names, fields)))
    with xr.open_dataset(path, engine="tidewell") as x:
        assert x.attrs.get("time") == expected
    with tidewell.open(path) as ds:
        assert (ds.time is None) == (expected is None)
        if expected is not None:
            assert ds.time.utcoffset().total_seconds() == 0


def mercator_y(latitude):
    return np.log(np.tan(np.pi / 4 + np.radians(latitude) / 2))


# projection_type, latitudes and longitudes (degrees x 128), rows, columns:
# whether there are coordinates.
GRIDS = [
    (3, (45 * 128, 30 * 128), (-80 * 128, -60 * 128), 16, 20, True),
    (3, (-3905, 11392), (-23040, 23040), 5, 3, True),    # south to north
    (3, (10 * 128, 0), (170 * 128, -175 * 128), 4, 7, True),   # across the antimeridian
    (1, (45 * 128, 30 * 128), (-80 * 128, -60 * 128), 16, 20, True),
    (1, (-70 * 128, 85 * 128), (0, 128), 9, 2, True),
    (1, (90 * 128, 0), (0, 128), 4, 4, False),           # the pole is not on a Mercator map
    (3, (90 * 128, 0), (0, 128), 4, 4, False),
    (3, (1000, 1000), (0, 128), 4, 4, False),            # no spacing to derive
    (3, (1000, 0), (128, 128), 4, 4, False),
    (3, (1000, 0), (0, 128), 1, 4, False),
    (2, (45 * 128, 30 * 128), (-80 * 128, -60 * 128), 4, 4, False),
    (0, (45 * 128, 30 * 128), (-80 * 128, -60 * 128), 4, 4, False),
]


@pytest.mark.parametrize("projection, lats, lons, rows, columns, mapped", GRIDS)
def test_coordinates(projection, lats, lons, rows, columns, mapped, tmp_path):
    path = write_dataset(tmp_path / "g.tdf", rows=rows, columns=columns, kind="cloud",
                         projection_type=projection, start_latitude=lats[0],
                         end_latitude=lats[1], start_longitude=lons[0], end_longitude=lons[1])
    with xr.open_dataset(path, engine="tidewell") as x, tidewell.open(path) as ds:
        if not mapped:
            assert ds.latitude is None and ds.longitude is None
            assert "latitude" not in x.coords and "longitude" not in x.coords
            return
        lat0, lat1 = lats[0] / 128, lats[1] / 128
        lon0, lon1 = lons[0] / 128, lons[1] / 128
        if lon1 < lon0:
            lon1 += 360     # columns run east
        # The four header values are the centres of the corner pixels.
        assert (ds.latitude[0], ds.latitude[-1]) == (lat0, lat1)
        assert (ds.longitude[0], ds.longitude[-1]) == (lon0, lon1)
        np.testing.assert_allclose(ds.longitude, np.linspace(lon0, lon1, columns), atol=1e-12)
        spaced = ds.latitude if projection == 3 else mercator_y(ds.latitude)
        expected = (np.linspace(lat0, lat1, rows) if projection == 3
                    else np.linspace(mercator_y(lat0), mercator_y(lat1), rows))
        np.testing.assert_allclose(spaced, expected, atol=1e-12)
        assert x["latitude"].dims == ("rows",) and x["longitude"].dims == ("columns",)
        assert np.array_equal(x["latitude"].values, ds.latitude)
        assert np.array_equal(x["longitude"].values, ds.longitude)
        assert x["latitude"].attrs["units"] == "degrees_north"


# file name, how it is made: whether xarray's guess picks the tidewell engine.
GUESSES = [
    ("d.tdf", dict(), True),
    ("d.DAT", dict(), True),                       # a known data_id
    ("d.dat", dict(data_id=7), False),
    ("d.tdf", dict(data_id=7), True),              # named so; opening says what is wrong
    ("n.tdf", b"CDF\x01" + bytes(100), False),
    ("none.tdf", None, True),                      # opening reports the missing file
    ("none.nc", None, False),
    ("fifo.tdf", "fifo", True),                    # not opened, so never waited on
    ("fifo.dat", "fifo", False),
]


@pytest.mark.parametrize("name, made, claimed", GUESSES)
def test_engine_guess(name, made, claimed, tmp_path):
    from tidewell.xarray_backend import TidewellBackendEntrypoint
    path = tmp_path / name
    if made == "fifo":
        os.mkfifo(path)
    elif isinstance(made, bytes):
        path.write_bytes(made)
    elif made is not None:
        write_dataset(path, **made)
    backend = TidewellBackendEntrypoint()
    assert backend.guess_can_open(str(path)) is claimed
    assert backend.guess_can_open(path) is claimed
    assert backend.guess_can_open(io.BytesIO(b"\xd5" * 60)) is False
