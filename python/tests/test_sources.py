"""Datasets that are not local files: binary file objects, members of zip
archives and fsspec URLs (zip://, file://, http:// served by the tests' own
range server on 127.0.0.1), through tidewell.open and the xarray engine.
Values must equal the library's reads of the local file; reads must be
lazy; pickling works for URLs and refuses file objects; a server that
misbehaves gives a TidewellError, never a hang or other values."""

import io
import os
import pickle
import subprocess
import sys
import textwrap
import zipfile

import numpy as np
import pytest
import xarray as xr

import tidewell
from support import reference, same_bits, write_dataset

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "support"))
from range_server import RangeServer  # noqa: E402

fsspec = pytest.importorskip("fsspec")
ROWS, COLUMNS = 600, 2000     # 2.4 MB plain: several of fsspec's 1 MiB blocks
LIMIT = 60                    # seconds for a child process: a hang fails the test


@pytest.fixture(scope="module")
def place(tmp_path_factory):
    """Plain and compressed datasets, their reference reads, and a zip
    (deflated) holding both."""
    directory = tmp_path_factory.mktemp("sources")
    rng = np.random.default_rng(3)
    values = rng.integers(-300, 1800, size=(ROWS, COLUMNS))
    nibbles = (np.arange(ROWS * COLUMNS) // 7) % 16
    refs = {}
    with zipfile.ZipFile(directory / "scenes.zip", "w", zipfile.ZIP_DEFLATED) as z:
        for storage in ("plain", "compressed"):
            path = write_dataset(directory / f"{storage}.tdf", rows=ROWS, columns=COLUMNS,
                                 compressed=storage == "compressed", values=values, nibbles=nibbles)
            refs[storage] = (reference(path, "avhrr_ch4"), reference(path, "graphics"))
            z.write(path, f"inside/{storage}.tdf")
    return directory, refs


@pytest.fixture(scope="module")
def server(place):
    directory, _ = place
    with RangeServer(directory, directory / "requests.log") as s:
        yield s


class ReadOnly:
    """A file object with read, seek and tell only (no readinto)."""

    def __init__(self, data):
        self._f = io.BytesIO(data)
        self.read, self.seek, self.tell = self._f.read, self._f.seek, self._f.tell


def routes(directory, server, storage):
    """(name, opener) for every way to the same dataset; an opener gives
    what tidewell.open takes."""
    path = directory / f"{storage}.tdf"
    zip_url = f"zip://inside/{storage}.tdf::{(directory / 'scenes.zip').as_uri()}"
    return {
        "bytesio": lambda: io.BytesIO(path.read_bytes()),
        "open file": lambda: open(path, "rb"),
        "read only": lambda: ReadOnly(path.read_bytes()),
        "zipfile member": lambda: zipfile.ZipFile(directory / "scenes.zip").open(f"inside/{storage}.tdf"),
        "zip url": lambda: zip_url,
        "file url": lambda: path.as_uri(),
        "http url": lambda: server.url("files", f"{storage}.tdf"),
        "openfile": lambda: fsspec.open(server.url("files", f"{storage}.tdf"), "rb"),
    }


@pytest.mark.parametrize("storage", ["plain", "compressed"])
@pytest.mark.parametrize("route", ["bytesio", "open file", "read only", "zipfile member", "zip url",
                                   "file url", "http url", "openfile"])
def test_every_source_reads_the_local_values(place, server, storage, route):
    directory, refs = place
    data, graphics = refs[storage]
    with tidewell.open(routes(directory, server, storage)[route]()) as ds:
        assert ds.storage == storage and ds.shape == (ROWS, COLUMNS)
        assert same_bits(ds.read(), data)
        assert same_bits(ds.read("graphics", rows=slice(5, 300, 7), columns=-1), graphics[5:300:7, -1])
    with xr.open_dataset(routes(directory, server, storage)[route](), engine="tidewell",
                         mask_and_scale=False) as x:
        assert same_bits(x["avhrr_ch4"][100:110, 1990:].values, data[100:110, 1990:])


@pytest.mark.parametrize("storage", ["plain", "compressed"])
def test_http_reads_are_lazy(place, server, storage):
    """Opening fetches the header's block; a selection fetches the blocks of
    its rows (all of a compressed stream, once, for its row index)."""
    directory, refs = place
    size = (directory / f"{storage}.tdf").stat().st_size
    url = server.url("files", f"{storage}.tdf")

    def fetched():
        return sum(r["bytes"] for r in server.requests() if r["path"] == f"/files/{storage}.tdf")

    server.forget()
    with xr.open_dataset(url, engine="tidewell") as x:
        assert fetched() <= (1 << 20) + 1
        rows = x["avhrr_ch4"][590:600].values
        expected = np.where(refs[storage][0][590:600] == -999, np.nan, refs[storage][0][590:600])
        np.testing.assert_array_equal(rows, expected)
        assert fetched() <= (size if storage == "compressed" else 0) + 3 * (1 << 20)
    # The caller's options come before the package's: small blocks fetch little.
    server.forget()
    with tidewell.open(url, storage_options={"block_size": 4096}):
        assert fetched() <= 64 * 1024


def test_open_mfdataset_over_urls(place, server):
    directory, refs = place
    urls = [server.url("files", f"{storage}.tdf") for storage in ("plain", "compressed")]
    with xr.open_mfdataset(urls, engine="tidewell", combine="nested", concat_dim="scene",
                           mask_and_scale=False) as x:
        assert x["avhrr_ch4"].shape == (2, ROWS, COLUMNS)
        assert same_bits(x["graphics"][:, 7].values, np.stack([refs[s][1][7] for s in ("plain", "compressed")]))


def test_pickling(place, server):
    """A dataset on a URL is pickled with its URL and opened again where it
    is read; one on a file object refuses to be pickled, saying why."""
    directory, refs = place
    with tidewell.open(server.url("files", "compressed.tdf")) as ds, \
            xr.open_dataset(server.url("files", "plain.tdf"), engine="tidewell", mask_and_scale=False) as x:
        ds_copy, x_copy = pickle.loads(pickle.dumps(ds)), pickle.loads(pickle.dumps(x))
        assert same_bits(ds_copy.read(rows=slice(0, 9)), refs["compressed"][0][:9])
        assert same_bits(x_copy["avhrr_ch4"][3].values, refs["plain"][0][3])
        ds_copy.close()
        x_copy.close()
    with tidewell.open(io.BytesIO((directory / "plain.tdf").read_bytes())) as ds:
        with pytest.raises(TypeError, match="opened on a file object cannot be pickled"):
            pickle.dumps(ds)


def test_dask_distributed_workers_open_the_url_again(place, server):
    """Workers in other processes read chunks of a dataset opened on a URL."""
    distributed = pytest.importorskip("distributed")
    _, refs = place
    with distributed.LocalCluster(n_workers=1, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client, \
            xr.open_dataset(server.url("files", "compressed.tdf"), engine="tidewell", mask_and_scale=False,
                            chunks={"rows": 200}) as x:
        values = client.compute(x["avhrr_ch4"].data).result(timeout=LIMIT)
    assert same_bits(values, refs["compressed"][0])


class Overlong(ReadOnly):
    """A file object whose read gives a byte more than asked."""

    def __init__(self, data):
        super().__init__(data)
        self.read = lambda n=-1: self._f.read(n) + b"?"


def test_file_objects_stay_the_callers(place):
    """A caller's file object is left open when its dataset closes; one that
    reads more than asked fails with what it did, never past the buffer."""
    directory, refs = place
    data = (directory / "plain.tdf").read_bytes()
    f = io.BytesIO(data)
    with tidewell.open(f) as ds:
        assert same_bits(ds.read(rows=slice(0, 2)), refs["plain"][0][:2])
    assert not f.closed
    with pytest.raises(tidewell.TidewellError, match="read gave 2 bytes for 1"):
        tidewell.open(Overlong(data))


def test_refusals(place, server):
    directory, _ = place
    with pytest.raises(tidewell.TidewellFileNotFoundError, match="cannot access dataset"):
        tidewell.open(server.url("files", "missing.tdf"))
    with pytest.raises(tidewell.TidewellError, match="wrong magic number"):
        tidewell.open(io.BytesIO(b"not a dataset" * 100))
    with pytest.raises(TypeError, match="binary file object"):
        tidewell.open(12)
    # The engine claims a URL by its name and a file object by its first bytes.
    engine = tidewell.xarray_backend.TidewellBackendEntrypoint()
    assert engine.guess_can_open(server.url("files", "plain.tdf"))
    assert engine.guess_can_open(io.BytesIO((directory / "plain.tdf").read_bytes()))
    assert not engine.guess_can_open(io.BytesIO(b"GIF89a" + bytes(100)))


COLLECTING = textwrap.dedent("""
    import gc, io, sys, tidewell
    path = sys.argv[1]
    victims = [tidewell.open(path)]

    class Collecting(io.BytesIO):
        def readinto(self, b):
            if victims:
                victims.clear()     # the last reference to another dataset:
                gc.collect()        # its finalizer runs inside the library's callback
            return super().readinto(b)

    with tidewell.open(Collecting(open(path, "rb").read())) as ds:
        ds.read()
    print("open datasets:", tidewell._pool.open_count())
""")


def test_a_dataset_collected_inside_a_callback_closes_later(place):
    """The pool's lock is held while a file object is read to open a
    dataset: a finalizer run then must not wait for it."""
    directory, _ = place
    result = subprocess.run([sys.executable, "-c", COLLECTING, str(directory / "plain.tdf")],
                            capture_output=True, text=True, timeout=LIMIT)
    assert result.stdout == "open datasets: 0\n", result.stderr


CHILD = textwrap.dedent("""
    import sys, numpy as np, tidewell
    url, reference = sys.argv[1], np.load(sys.argv[2])
    try:
        with tidewell.open(url) as ds:
            values = ds.read()
    except tidewell.TidewellError as e:
        print("error:", e)
    else:
        print("values:", "same" if values.tobytes() == reference.tobytes() else "OTHER")
""")


@pytest.mark.parametrize("storage", ["plain", "compressed"])
@pytest.mark.parametrize("mode", ["truncate", "fail3", "shrink"])
def test_a_misbehaving_server_gives_a_clear_error(place, server, tmp_path, storage, mode):
    directory, refs = place
    np.save(tmp_path / "ref.npy", refs[storage][0])
    result = subprocess.run([sys.executable, "-c", CHILD, server.url(mode, f"{storage}.tdf"),
                             str(tmp_path / "ref.npy")], capture_output=True, text=True, timeout=LIMIT)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("error: "), result.stdout
    assert server.url(mode, f"{storage}.tdf") in result.stdout
