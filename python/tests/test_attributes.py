"""The description of a dataset: attributes, dimensions, variables, kind and
storage equal tdfinfo -j's; units, orbit start time and coordinates equal the
library's answers for the header cases; xarray's recognition of Tidewell
files."""

import datetime
import io
import json
import os
import subprocess

import numpy as np
import pytest
import xarray as xr

import tidewell
from support import tdfinfo, tool, write_dataset

DESCRIPTIONS = {
    "every-field": dict(
        kind="infrared", compressed=True, satellite_id=0xD5C4, satellite_type=1,
        data_set_type=3, projection_type=3, start_latitude=-3905, end_latitude=6400,
        start_longitude=-23041, end_longitude=32767, resolution=147, polar_grid_size=-1,
        polar_grid_points=512, grid_ioffset=-32768, composite_type=5, fill_type=2,
        channel_number=207, sun_normalization=1, limb_correction=1, orbits_processed=3,
        image_block_size=4096, percent_non_zero=71, horizontal_skew=-2, orbit_type=-1,
        orbit_time=1, end_row=3, end_column=69, orbit_start_year=2024, orbit_start_day=175,
        orbit_start_hour_minute=1342, orbit_start_second=27, orbit_start_millisecond=5,
        orbit_end_millisecond=999),
    "unnamed-codes": dict(
        kind="visible", satellite_id=0xD5FF, data_set_type=0, projection_type=9,
        calibration_type=1, fill_type=7, orbit_type=0, compression_type=1),
    "cloud": dict(kind="cloud", columns=140),
}


@pytest.mark.parametrize("name", sorted(DESCRIPTIONS))
def test_description_equals_tdfinfo(name, tmp_path):
    path = write_dataset(tmp_path / (name + ".tdf"), **DESCRIPTIONS[name])
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
        assert (ds.data_kind, ds.storage, ds.time_text) == \
            (info["data_kind"], info["storage"], info["orbit_start"])
    with xr.open_dataset(path, engine="tidewell") as x:
        attrs = dict(x.attrs)
        assert attrs.pop("time", None) == info["orbit_start"]
        assert list(attrs.items()) == list(info["attributes"].items())
        if "graphics" in x:
            assert x["graphics"].dtype == np.uint8 and "_FillValue" not in x["graphics"].encoding


def header_cases():
    """The header cases and the library's answers for them, written by
    header_case_files."""
    return subprocess.run([tool("HEADER_CASE_FILES"), "--list"], check=True, capture_output=True,
                          text=True).stdout.split()


@pytest.fixture(scope="module")
def cases(tmp_path_factory):
    directory = tmp_path_factory.mktemp("cases")
    subprocess.run([tool("HEADER_CASE_FILES"), str(directory)], check=True)
    return directory


@pytest.mark.parametrize("name", header_cases())
def test_header_cases_show_the_librarys_answers(cases, name):
    path = str(cases / (name + ".tdf"))
    answers = json.loads((cases / (name + ".json")).read_text())
    with tidewell.open(path) as ds:
        assert (ds.data_kind, ds.storage) == (answers["kind"], answers["storage"])
        assert (ds.units or "", ds.long_name) == (answers["units"], answers["long_name"])
        assert ds.time_text == answers["time"]
        if answers["time"] is None:
            assert ds.time is None
        else:
            epoch = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)
            assert ds.time == epoch + datetime.timedelta(
                seconds=answers["seconds"], milliseconds=answers["millisecond"] or 0)
        if answers["grid"] == "none":
            assert ds.latitude is None and ds.longitude is None
        else:
            assert ds.latitude.tolist() == answers["latitudes"]
            assert ds.longitude.tolist() == answers["longitudes"]
    with xr.open_dataset(path, engine="tidewell") as x:
        assert x.attrs.get("time") == answers["time"]
        data = x[ds.data_variable]
        assert data.attrs.get("units", "") == answers["units"]
        assert data.attrs["long_name"] == answers["long_name"]
        if answers["grid"] == "none":
            assert "latitude" not in x.coords and "longitude" not in x.coords
        else:
            assert x["latitude"].dims == ("rows",) and x["longitude"].dims == ("columns",)
            assert x["latitude"].values.tolist() == answers["latitudes"]
            assert x["longitude"].values.tolist() == answers["longitudes"]
            assert x["latitude"].attrs["units"] == "degrees_north"


# file name, how it is made: whether xarray's guess picks the tidewell engine.
GUESSES = [
    ("d.tdf", dict(), True),
    ("d.DAT", dict(), True),                       # recognised by its bytes
    ("d.dat", dict(data_id=7), False),
    ("d.tdf", dict(data_id=7), False),             # not a dataset: left to other engines
    ("n.tdf", b"CDF\x01" + bytes(100), False),
    ("empty.tdf", b"", False),
    ("random.tdf", bytes(range(256)) * 4, False),
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
