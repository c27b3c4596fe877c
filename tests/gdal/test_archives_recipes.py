"""The recipes of docs/archives.md, run as they stand
there, against datasets of the project's writer in a zip and a tar, on the
tests' range server (127.0.0.1) standing for the web server and the object
store the recipes name.  What they write must be the local files' values.

Needs GDAL_DRIVER_PATH (the plugin), TDWRITE, DOC (the page) and the staged Python
package on PYTHONPATH; run through ctest.
"""
import os
import re
import subprocess
import sys
import tarfile
import zipfile

import numpy as np
import pytest
from osgeo import gdal

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from range_server import RangeServer  # noqa: E402

gdal.UseExceptions()
tidewell = pytest.importorskip("tidewell")


def recipe(name):
    """The fenced block after <!-- archives: NAME --> in the page."""
    text = open(os.environ["DOC"], encoding="utf-8").read()
    found = re.search(r"<!-- archives: %s -->\n```\w*\n(.*?)```" % name, text, re.S)
    assert found, "no recipe %s in " + os.environ["DOC"] % name
    return found.group(1)


@pytest.fixture(scope="module")
def place(tmp_path_factory):
    """sst.tdf (compressed) and sst-day2.tdf (plain), mcsst of 200 x 300;
    scenes.zip holds sst.tdf, scenes.tar holds day2/sst.tdf (the plain one)."""
    directory = tmp_path_factory.mktemp("recipes")
    rng = np.random.default_rng(5)
    for name, compressed in (("sst.tdf", True), ("sst-day2.tdf", False)):
        values, nibbles = directory / (name + ".values"), directory / (name + ".nibbles")
        rng.integers(1, 2000, size=(200, 300), dtype=np.int32).tofile(values)
        rng.integers(0, 16, size=(200, 300), dtype=np.uint8).tofile(nibbles)
        subprocess.run([os.environ["TDWRITE"], str(directory / name), "--kind", "infrared", "--rows", "200",
                        "--columns", "300", "--values", str(values), "--nibbles", str(nibbles),
                        "channel_number=6"] + (["--compressed"] if compressed else []), check=True)
    with zipfile.ZipFile(directory / "scenes.zip", "w", zipfile.ZIP_DEFLATED) as z:
        z.write(directory / "sst.tdf", "sst.tdf")
    with tarfile.open(directory / "scenes.tar", "w") as t:
        t.add(directory / "sst-day2.tdf", "day2/sst.tdf")
    return directory


def local(directory, name, variable="mcsst"):
    return gdal.Open(f'TIDEWELL:"{directory / name}":{variable}').ReadAsArray()


def on_the_server(text, server):
    """The recipe with the test's server for the web server and the store."""
    return (text.replace("https://data.example.org/tidewell", server.url("files", "").rstrip("/"))
                .replace("store.example.org:9000", server.endpoint)
                .replace("/vsis3/tidewell/", "/vsis3/files/"))


def test_gdal_recipe(place):
    with RangeServer(place, place / "gdal.log") as server:
        script = on_the_server(recipe("gdal"), server)
        subprocess.run(["bash", "-euc", script], cwd=place, check=True, timeout=120, capture_output=True)
    assert np.array_equal(gdal.Open(str(place / "sst.tif")).ReadAsArray(), local(place, "sst.tdf"))
    assert np.array_equal(gdal.Open(str(place / "planes.tif")).ReadAsArray(),
                          local(place, "sst-day2.tdf", "graphics"))
    assert np.array_equal(gdal.Open(str(place / "sst-s3.tif")).ReadAsArray(), local(place, "sst.tdf"))
    assert gdal.Open(str(place / "sst.png")).ReadAsArray().shape == (200, 300)


def test_python_recipe(place, monkeypatch):
    monkeypatch.chdir(place)
    with RangeServer(place, place / "python.log") as server:
        names = {}
        exec(on_the_server(recipe("python"), server), names)
        with tidewell.open(place / "sst.tdf") as ds:
            data = ds.read(missing="nan")
            planes = ds.read("graphics")
        np.testing.assert_array_equal(names["block"], data[:100])
        np.testing.assert_array_equal(names["rows"], data[50:60])
        np.testing.assert_array_equal(names["planes"], planes)
        with tidewell.open(place / "sst-day2.tdf") as ds:
            np.testing.assert_array_equal(names["days"]["mcsst"][1, 7].values, ds.read(rows=7, missing="nan"))
        names["x"].close()
        names["days"].close()
