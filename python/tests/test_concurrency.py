"""Threads, more datasets than the library has slots, and forked processes."""

import gc
import os
import pickle
import shutil
import threading
import time

import numpy as np
import pytest
import xarray as xr

import tidewell
from support import reference, same_bits, write_dataset

rng = np.random.default_rng(7)


@pytest.fixture
def max_open():
    """Sets the package's pool size for one test."""
    saved = tidewell.get_max_open()
    yield tidewell.set_max_open
    tidewell.set_max_open(saved)


@pytest.fixture(scope="module")
def pair(tmp_path_factory):
    tmp = tmp_path_factory.mktemp("pair")
    paths = [
        write_dataset(tmp / "a.tdf", kind="infrared", compressed=True, rows=40, columns=300,
                      values=rng.integers(-2047, 2048, size=(40, 300)),
                      nibbles=rng.integers(0, 16, size=(40, 300))),
        write_dataset(tmp / "b.tdf", kind="ancillary", channel_number=103, rows=60,
                      columns=200, values=rng.integers(0, 65536, size=(60, 200)),
                      vertical_shift=1),
    ]
    return [(p, reference(p, tidewell.open(p).data_variable)) for p in paths]


@pytest.mark.parametrize("pool", [32, 1], ids=["kept-open", "reopened-every-read"])
def test_two_threads(pair, pool, max_open):
    max_open(pool)
    failures = []

    def work(path, ref, seed):
        local = np.random.default_rng(seed)
        try:
            with tidewell.open(path) as ds:
                for _ in range(150):
                    r0, c0 = local.integers(0, ref.shape[0]), local.integers(0, ref.shape[1])
                    r1 = local.integers(r0 + 1, ref.shape[0] + 1)
                    c1 = local.integers(c0 + 1, ref.shape[1] + 1)
                    block = (slice(r0, r1), slice(c0, c1))
                    if not same_bits(ds.read(rows=block[0], columns=block[1]), ref[block]):
                        failures.append((path, block))
        except Exception as e:      # reported below, with the thread's dataset
            failures.append((path, e))

    threads = [threading.Thread(target=work, args=(p, ref, i)) for i, (p, ref) in enumerate(pair)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []
    assert tidewell._pool.open_count() == 0


def test_more_datasets_than_slots(tmp_path, max_open):
    # 150 datasets open at once, compressed ones among them, read in turn
    # and again; the package never holds more than its pool of slots.
    max_open(16)
    patterns = 15
    bases = [write_dataset(tmp_path / ("base%02d.tdf" % k), rows=2, columns=70,
                           compressed=k % 3 == 0, calibration_type=0,
                           values=np.full((2, 70), k + 1)) for k in range(patterns)]
    paths = [str(tmp_path / ("%03d.tdf" % i)) for i in range(150)]
    for i, path in enumerate(paths):
        shutil.copyfile(bases[i % patterns], path)
    datasets = [tidewell.open(p) for p in paths]
    for _ in range(2):
        for i, ds in enumerate(datasets):
            assert np.all(ds.read() == i % patterns)
            assert tidewell._pool.open_count() <= 16
    for ds in datasets[:100]:
        ds.close()
    del datasets
    gc.collect()                        # the other 50 are released when collected
    assert tidewell._pool.open_count() == 0


def test_changed_file_is_not_reopened(tmp_path, max_open):
    max_open(1)
    first = write_dataset(tmp_path / "first.tdf", calibration_type=0, values=np.full((4, 70), 5))
    other = write_dataset(tmp_path / "other.tdf")
    with tidewell.open(first) as ds, tidewell.open(other):
        # Opening `other` took the only slot; `first` is replaced meanwhile.
        replacement = write_dataset(tmp_path / "new.tdf", calibration_type=0,
                                    values=np.full((4, 70), 9))
        os.replace(replacement, first)
        with pytest.raises(tidewell.TidewellError, match="changed on disk") as caught:
            ds.read()
        assert caught.value.status == 45


def test_open_mfdataset_300(tmp_path):
    # Ten datasets of different values, each copied 30 times.
    n, patterns = 300, 10
    bases = [write_dataset(tmp_path / ("base%d.tdf" % k), rows=3, columns=70,
                           calibration_type=0, values=np.arange(210).reshape(3, 70) % 7 + 1 + k)
             for k in range(patterns)]
    paths = [str(tmp_path / ("%03d.tdf" % i)) for i in range(n)]
    for i, path in enumerate(paths):
        shutil.copyfile(bases[i % patterns], path)
    with xr.open_mfdataset(paths, combine="nested", concat_dim="time") as x:
        assert tidewell._pool.open_count() <= tidewell.get_max_open()
        data = x["avhrr_ch4"]
        assert data.shape == (n, 3, 70) and len(data.chunks[0]) == n
        values = data.values
    expected = np.arange(210).reshape(1, 3, 70) % 7 + (np.arange(n) % patterns).reshape(n, 1, 1)
    assert np.array_equal(values, expected)
    gc.collect()
    assert tidewell._pool.open_count() == 0


def test_forked_child_reads_its_own_copy(pair):
    path, ref = pair[0]
    with tidewell.open(path) as ds:
        assert same_bits(ds.read(rows=slice(0, 5)), ref[:5])
        pid = os.fork()
        if pid == 0:
            ok = same_bits(ds.read(), ref) and same_bits(ds.read(rows=3), ref[3])
            os._exit(0 if ok else 1)
        assert same_bits(ds.read(), ref)
        _, status = os.waitpid(pid, 0)
        assert os.waitstatus_to_exitcode(status) == 0
        assert same_bits(ds.read(rows=slice(-5, None)), ref[-5:])


def test_pickled_datasets_reopen(pair):
    # What dask's process-based schedulers do with lazy variables.
    path, ref = pair[0]
    with tidewell.open(path) as ds, xr.open_dataset(path, mask_and_scale=False) as x:
        ds_copy = pickle.loads(pickle.dumps(ds))
        x_copy = pickle.loads(pickle.dumps(x))
        assert same_bits(ds_copy.read(), ref)
        assert same_bits(x_copy[ds.data_variable].values, ref)
        ds_copy.close()
        x_copy.close()


def overwrite_in_place(path, **description):
    """Writes another dataset's bytes over the file, keeping its inode."""
    other = write_dataset(path + ".new", **description)
    with open(other, "rb") as f:
        data = f.read()
    with open(path, "r+b") as f:
        f.write(data)


@pytest.mark.parametrize("compressed, status", [(False, 45), (True, 46)])
def test_written_in_place_while_open(tmp_path, compressed, status):
    path = write_dataset(tmp_path / "d.tdf", rows=8, compressed=compressed, calibration_type=0,
                         values=np.full((8, 70), 5))
    os.utime(path, (1e9, 1e9))          # older than any write now, whatever the clock's steps
    with tidewell.open(path) as ds, xr.open_dataset(path, chunks={"rows": 4}) as x:
        assert np.all(ds.read(rows=slice(0, 4)) == 4)
        assert np.all(x["avhrr_ch4"][:4].values == 4)
        overwrite_in_place(path, rows=8, compressed=compressed, calibration_type=0,
                           values=np.full((8, 70), 9))
        for read in (lambda: ds.read(rows=slice(4, 8)), lambda: x["avhrr_ch4"][4:].values):
            with pytest.raises(tidewell.TidewellError, match="changed on disk") as caught:
                read()
            assert (caught.value.status, caught.value.filename) == (status, path)


def test_relative_paths_after_chdir(tmp_path, max_open, monkeypatch):
    (tmp_path / "data").mkdir()
    (tmp_path / "elsewhere").mkdir()
    write_dataset(tmp_path / "data" / "d.tdf", calibration_type=0, values=np.full((4, 70), 3))
    other = write_dataset(tmp_path / "other.tdf")
    max_open(1)
    monkeypatch.chdir(tmp_path / "data")
    with tidewell.open("d.tdf") as ds, xr.open_dataset("d.tdf", chunks={}) as x:
        assert ds.path == str(tmp_path / "data" / "d.tdf")
        pickled = pickle.dumps(ds)
        with tidewell.open(other):      # takes the only slot: d.tdf is closed
            monkeypatch.chdir(tmp_path / "elsewhere")
            assert np.all(ds.read() == 2)
            assert np.all(x["avhrr_ch4"].values == 2)
            with pickle.loads(pickled) as copy:
                assert np.all(copy.read() == 2)


def test_unpickled_dataset_opens_its_file_at_the_first_read(tmp_path):
    path = write_dataset(tmp_path / "d.tdf", calibration_type=0, values=np.full((4, 70), 3))
    with tidewell.open(path) as ds:
        pickled = pickle.dumps(ds)
        handles = tidewell._pool.handle_count()
        copy = pickle.loads(pickled)
        assert tidewell._pool.handle_count() == handles, "nothing opened yet"
        assert (copy.shape, copy.attrs, copy.time_text) == (ds.shape, ds.attrs, ds.time_text)
        os.rename(path, path + ".moved")
        with pytest.raises(tidewell.TidewellFileNotFoundError) as caught:
            copy.read()
        assert caught.value.filename == path
        # Another dataset under the name is not the one described.
        write_dataset(path, rows=5, calibration_type=0)
        with pytest.raises(tidewell.TidewellError, match="changed on disk") as caught:
            pickle.loads(pickled).read()
        assert caught.value.status == 45
        os.replace(path + ".moved", path)
        assert np.all(pickle.loads(pickled).read() == 2)


def test_dask_distributed_worker_error_reaches_the_client(tmp_path):
    """Workers in other processes: a dataset they cannot open fails its
    task, and compute() raises the TidewellError at once."""
    distributed = pytest.importorskip("distributed")
    path = write_dataset(tmp_path / "d.tdf", rows=8, calibration_type=0, values=np.full((8, 70), 3))
    with distributed.LocalCluster(n_workers=1, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client, \
            xr.open_dataset(path, chunks={"rows": 4}) as x:
        data = x["avhrr_ch4"].data
        assert client.submit(sum, [1, 2]).result(timeout=60) == 3
        os.rename(path, path + ".moved")
        started = time.monotonic()
        with pytest.raises(tidewell.TidewellError) as caught:
            client.compute(data).result(timeout=60)
        assert time.monotonic() - started < 20
        assert isinstance(caught.value, FileNotFoundError) and caught.value.filename == path
