"""Every way opening or reading can fail, and the exception it raises."""

import ctypes
import errno
import os
import pickle
import subprocess
import sys

import pytest
import xarray as xr

import tidewell
from tidewell import TidewellError
from support import write_dataset


def missing(tmp):
    return str(tmp / "none.tdf")


def directory(tmp):
    return str(tmp)


def fifo(tmp):
    path = str(tmp / "fifo.tdf")
    os.mkfifo(path)
    return path


def raw_bytes(data):
    def make(tmp):
        path = tmp / "bytes.tdf"
        path.write_bytes(data)
        return str(path)
    return make


def dataset(**description):
    return lambda tmp: write_dataset(tmp / "d.tdf", **description)


# name: (make the file, exception class, status, item, errno)
OPEN_FAILURES = {
    "missing": (missing, tidewell.TidewellFileNotFoundError, 3, None, errno.ENOENT),
    "directory": (directory, tidewell.TidewellIsADirectoryError, 3, None, errno.EISDIR),
    "fifo": (fifo, TidewellError, 3, None, None),     # refused, never waited on
    "empty": (raw_bytes(b""), TidewellError, 27, None, None),
    "not-tidewell": (raw_bytes(b"CDF\x01" + bytes(200)), TidewellError, 26, None, None),
    "data-id-4": (dataset(data_id=4), TidewellError, 39, None, None),
    "pixel-size-1": (dataset(kind="visible", channel_pixel_size=1), TidewellError, 43, None,
                     None),
    "unnamed-channel": (dataset(channel_number=7), TidewellError, 40, "variable 0", None),
    "rows-undefined": (dataset(header={"rows": -1}), TidewellError, 10, "rows", None),
    "header-cut-short": (dataset(truncate=100), TidewellError, 31, "orbit_type", None),
}


@pytest.mark.parametrize("name", sorted(OPEN_FAILURES))
def test_open_failures(name, tmp_path):
    make, cls, status, item, number = OPEN_FAILURES[name]
    path = make(tmp_path)
    for opener in (tidewell.open, lambda p: xr.open_dataset(p, engine="tidewell")):
        with pytest.raises(cls) as caught:
            opener(path)
        e = caught.value
        assert type(e) is cls and isinstance(e, OSError)
        assert (e.status, e.item, e.errno, e.filename) == (status, item, number, path)
        assert e.strerror == tidewell.strerror(status)
        expected = ": ".join(p for p in (path, item, e.strerror) if p is not None)
        assert str(e) == expected
        again = pickle.loads(pickle.dumps(e))
        assert type(again) is cls and repr(again) == repr(e)
    assert tidewell._pool.open_count() == 0
    if cls is tidewell.TidewellFileNotFoundError:
        # xarray picks the engine by the name and reports the missing file.
        with pytest.raises(FileNotFoundError):
            xr.open_dataset(path)
    elif status in (27, 39, 43):
        # Not a dataset: without engine="tidewell" it is left to the other
        # engines, none of which takes it.  (The netCDF header of
        # not-tidewell is taken by a netCDF engine where one is installed.)
        with pytest.raises(ValueError, match="engine|backend"):
            xr.open_dataset(path)


# name: (description, rows read, status)
READ_FAILURES = {
    "data-cut-short": (dict(rows=20, truncate=1500), slice(15, 20), 32),
    "compressed-cut-short": (dict(rows=20, compressed=True, truncate=1030), slice(0, 1), 32),
    "unsupported-compression": (dict(kind="visible", compression_type=1), slice(0, 1), 47),
}


@pytest.mark.parametrize("name", sorted(READ_FAILURES))
def test_read_failures(name, tmp_path):
    description, rows, status = READ_FAILURES[name]
    path = write_dataset(tmp_path / "d.tdf", **description)
    with tidewell.open(path) as ds:
        variable = ds.data_variable
        with pytest.raises(TidewellError) as caught:
            ds.read(rows=rows)
        assert (caught.value.status, caught.value.item) == (status, variable)
        if name == "data-cut-short":
            assert ds.read(rows=slice(0, 5)).shape == (5, 70)   # the rows that are there
    with xr.open_dataset(path, engine="tidewell") as x:
        with pytest.raises(TidewellError) as caught:
            x[variable][rows].load()
        assert caught.value.status == status


def test_misuse(tmp_path):
    path = write_dataset(tmp_path / "d.tdf", rows=3)
    ds = tidewell.open(path)
    for call, cls in [
        (lambda: ds.read("nothing"), KeyError),
        (lambda: ds.read(rows=3), IndexError),
        (lambda: ds.read(columns=-71), IndexError),
        (lambda: ds.read(rows="1"), TypeError),
        (lambda: ds.read(missing="zero"), ValueError),
        (lambda: tidewell.set_max_open(0), ValueError),
    ]:
        with pytest.raises(cls):
            call()
    ds.close()
    ds.close()
    for rows in (None, slice(0, 0)):
        with pytest.raises(ValueError, match="closed"):
            ds.read(rows=rows)
    assert ds.closed and tidewell._pool.open_count() == 0


def test_library_slots_taken_elsewhere(tmp_path):
    # Another user of the library in the process holds all 100 slots.
    path = write_dataset(tmp_path / "d.tdf")
    lib = tidewell._library.library()
    ids = []
    try:
        dataset_id = ctypes.c_int()
        while lib.td_open(path.encode(), 0, ctypes.byref(dataset_id)) == 0:
            ids.append(dataset_id.value)
        assert len(ids) == 100
        with pytest.raises(TidewellError) as caught:
            tidewell.open(path)
        assert caught.value.status == 23
    finally:
        for i in ids:
            lib.td_close(i)
    with tidewell.open(path) as ds:
        assert ds.read().shape == (4, 70)


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads files whatever their permissions")
def test_permission_denied(tmp_path):
    path = write_dataset(tmp_path / "d.tdf")
    os.chmod(path, 0)
    with pytest.raises(tidewell.TidewellPermissionError) as caught:
        tidewell.open(path)
    assert (caught.value.status, caught.value.errno) == (3, errno.EACCES)


def test_library_not_found(tmp_path):
    path = write_dataset(tmp_path / "d.tdf")
    script = ("import tidewell\n"
              "try:\n"
              "    tidewell.open(%r)\n"
              "except OSError as e:\n"
              "    print(type(e).__name__, e)\n" % path)
    env = dict(os.environ, TIDEWELL_LIBRARY=str(tmp_path / "libnone.so"))
    result = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True,
                            text=True, check=True)
    assert result.stdout.startswith("OSError cannot load the Tidewell library libtidewell.so.1")
    assert "libnone.so" in result.stdout
