"""Tidewell datasets through GDAL's virtual file systems: inside zip and tar
archives, in memory, as part of a larger file, over HTTP (/vsicurl/) and
from an S3-style object store (/vsis3/), served by the tests' own range
server on 127.0.0.1.  Values must equal the library's reads of the local
file; a server that misbehaves must give a clear error, never a hang or
other values.

The datasets and their reads come from make_gdal_fixtures
(MAKE_GDAL_FIXTURES); the plugin from GDAL_DRIVER_PATH; the server from
tests/support/range_server.py.  Run through ctest.
"""
import gzip
import os
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

ROWS, COLUMNS = 30, 140
PLAIN, COMPRESSED = "infrared-plain-mercator", "visible-compressed-mercator"
VARIABLE = {PLAIN: "avhrr_ch4", COMPRESSED: "avhrr_ch1", "big": "avhrr_ch4"}
LIMIT = 60  # seconds for any one command: a hang fails the test


@pytest.fixture(scope="module")
def place(tmp_path_factory):
    """The fixtures, a zip (deflated) and a tar of them, each gzipped, and a
    file that holds each dataset after 777 bytes of something else."""
    directory = tmp_path_factory.mktemp("archives")
    subprocess.run([os.environ["MAKE_GDAL_FIXTURES"], str(directory)], check=True)
    with zipfile.ZipFile(directory / "scenes.zip", "w", zipfile.ZIP_DEFLATED) as z:
        for name in (PLAIN, COMPRESSED):
            z.write(directory / f"{name}.tdf", f"inside/{name}.tdf")
    with tarfile.open(directory / "scenes.tar", "w") as t:
        for name in (PLAIN, COMPRESSED):
            t.add(directory / f"{name}.tdf", f"inside/{name}.tdf")
    for name in (PLAIN, COMPRESSED):
        data = (directory / f"{name}.tdf").read_bytes()
        (directory / f"{name}.padded").write_bytes(b"\x00" * 777 + data + b"tail")
        (directory / f"{name}.tdf.gz").write_bytes(gzip.compress(data))
    return directory


@pytest.fixture(scope="module")
def big(place):
    """Datasets of 600 x 2000 samples, plain and compressed (2.4 and about
    1.5 MB), which a remote read takes in several requests, and GDAL's
    reads of their local files."""
    rng = np.random.default_rng(21)
    values = rng.integers(-300, 1800, size=(600, 2000), dtype=np.int32)
    values[:, 500:520] = 0
    values.tofile(place / "big.values")
    nibbles = ((np.arange(600)[:, None] + np.arange(2000)[None, :]) % 16).astype(np.uint8)
    nibbles.tofile(place / "big.nibbles")
    reads = {}
    for storage in ("plain", "compressed"):
        path = place / f"big-{storage}.tdf"
        subprocess.run([os.environ["TDWRITE"], str(path), "--kind", "infrared", "--rows", "600",
                        "--columns", "2000", "--values", str(place / "big.values"), "--nibbles",
                        str(place / "big.nibbles")] + (["--compressed"] if storage == "compressed" else []),
                       check=True)
        reads[storage] = gdal.Open(subdataset(path, "big")).ReadAsArray()
    return reads


@pytest.fixture(scope="module")
def server(place):
    with RangeServer(place, place / "requests.log") as s:
        yield s


def environment(server):
    """What a user of an S3-style store on a local endpoint sets, and time
    limits, so that a server that stalls ends the command."""
    return dict(os.environ, AWS_S3_ENDPOINT=server.endpoint, AWS_NO_SIGN_REQUEST="YES",
                AWS_VIRTUAL_HOSTING="FALSE", AWS_HTTPS="NO", GDAL_HTTP_TIMEOUT="20")


def run(server, *args, check=True):
    return subprocess.run(args, capture_output=True, text=True, timeout=LIMIT, env=environment(server),
                          check=check)


def names(place, server, name):
    """The same dataset by every route."""
    size = (place / f"{name}.tdf").stat().st_size
    return {
        "zip": f"/vsizip/{place}/scenes.zip/inside/{name}.tdf",
        "tar": f"/vsitar/{place}/scenes.tar/inside/{name}.tdf",
        "gzip": f"/vsigzip/{place}/{name}.tdf.gz",
        "subfile": f"/vsisubfile/777_{size},{place}/{name}.padded",
        "curl": f"/vsicurl/{server.url('files', name + '.tdf')}",
        "s3": f"/vsis3/files/{name}.tdf",
    }


def subdataset(source, name):
    """The data variable's subdataset of a visible or infrared dataset."""
    return f'TIDEWELL:"{source}":{VARIABLE[name]}'


def library_reads(place, name):
    data = np.fromfile(place / f"{name}.f32", dtype=np.float32).reshape(ROWS, COLUMNS)
    graphics = np.fromfile(place / f"{name}.u8", dtype=np.uint8).reshape(ROWS, COLUMNS)
    return data, graphics


def translated(server, tmp_path, source, out_name):
    out = tmp_path / out_name
    run(server, "gdal_translate", "-q", "-of", "GTiff", source, str(out))
    return gdal.Open(str(out)).ReadAsArray()


@pytest.mark.parametrize("name", [PLAIN, COMPRESSED])
@pytest.mark.parametrize("route", ["zip", "tar", "gzip", "subfile", "curl", "s3"])
def test_every_route_reads_the_local_values(place, server, tmp_path, name, route):
    source = names(place, server, name)[route]
    data, graphics = library_reads(place, name)
    info = run(server, "gdalinfo", source).stdout
    assert "Driver: Tidewell/" in info and f"Size is {COLUMNS}, {ROWS}" in info
    assert f'SUBDATASET_2_NAME=TIDEWELL:"{source}":graphics' in info
    np.testing.assert_array_equal(translated(server, tmp_path, subdataset(source, name), "data.tif"), data)
    np.testing.assert_array_equal(
        translated(server, tmp_path, f'TIDEWELL:"{source}":graphics', "graphics.tif"), graphics)


@pytest.mark.parametrize("name", [PLAIN, COMPRESSED])
def test_vsimem_in_process(place, name):
    memory = f"/vsimem/tidewell-test/{name}.tdf"
    gdal.FileFromMemBuffer(memory, (place / f"{name}.tdf").read_bytes())
    try:
        data, graphics = library_reads(place, name)
        np.testing.assert_array_equal(gdal.Open(subdataset(memory, name)).ReadAsArray(), data)
        np.testing.assert_array_equal(gdal.Open(f'TIDEWELL:"{memory}":graphics').ReadAsArray(), graphics)
        assert gdal.OpenEx(memory, allowed_drivers=["Tidewell"]).GetDriver().ShortName == "Tidewell"
    finally:
        gdal.Unlink(memory)


@pytest.mark.parametrize("storage", ["plain", "compressed"])
@pytest.mark.parametrize("mode", ["truncate", "fail3", "shrink"])
def test_a_misbehaving_server_gives_a_clear_error(server, big, tmp_path, storage, mode):
    out = tmp_path / "out.tif"
    result = run(server, "gdal_translate", "-q", "-of", "GTiff",
                 subdataset(f"/vsicurl/{server.url(mode, f'big-{storage}.tdf')}", "big"), str(out), check=False)
    assert result.returncode != 0, result.stderr
    assert "ERROR" in result.stderr
    # Whatever was written before the failure is the dataset's own values.
    if out.exists():
        written = gdal.Open(str(out)).ReadAsArray()
        filled = written != 0
        np.testing.assert_array_equal(written[filled], big[storage][filled])


@pytest.mark.parametrize("storage", ["plain", "compressed"])
def test_remote_reads_are_ranges_of_whole_rows(server, big, tmp_path, storage):
    """A whole read asks for a few ranges, not one per row or sample, and
    fetches the file about once; the values are the local ones."""
    name = f"big-{storage}.tdf"
    server.forget()
    remote = translated(server, tmp_path, subdataset(f"/vsicurl/{server.url('files', name)}", "big"), "big.tif")
    np.testing.assert_array_equal(remote, big[storage])
    fetched = [r for r in server.requests() if r["path"] == f"/files/{name}" and r["method"] == "GET"]
    size = os.path.getsize(server.root + "/" + name)
    assert all(r["range"] for r in fetched)
    assert 1 <= len(fetched) <= 60
    assert sum(r["bytes"] for r in fetched) <= 1.5 * size
