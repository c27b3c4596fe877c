"""Opening reads the header only; a selection reads only its rows.

The dataset's header claims 32767 x 32767 samples (a 2 GiB data area) while
the file holds the header row and three data rows: opening must succeed,
reading those rows must give their values, and any read touching a row
beyond them must fail with "error reading data"."""

import numpy as np
import pytest
import xarray as xr

import tidewell
from support import write_dataset

SIDE = 32767
STORED_ROWS = 3


@pytest.fixture(scope="module")
def huge(tmp_path_factory):
    values = (np.arange(STORED_ROWS * SIDE).reshape(STORED_ROWS, SIDE) % 1100) - 30
    path = write_dataset(tmp_path_factory.mktemp("huge") / "huge.tdf", kind="visible",
                         rows=STORED_ROWS, columns=SIDE, values=values,
                         nibbles=np.arange(STORED_ROWS * SIDE) % 16, calibration_type=0,
                         header={"rows": SIDE, "columns": SIDE})
    counts = np.where((values >= 1) & (values <= 1024), values - 1, -999).astype(np.float32)
    return path, counts


# (rows, columns) selections inside the stored rows.
SELECTIONS = [
    (slice(0, STORED_ROWS), slice(None)),
    (slice(1, 2), slice(SIDE - 5, None)),
    (2, slice(0, SIDE, 997)),
    (0, 12345),
]


def test_tidewell(huge):
    path, counts = huge
    with tidewell.open(path) as ds:
        assert ds.shape == (SIDE, SIDE)
        for rows, columns in SELECTIONS:
            assert np.array_equal(ds.read(rows=rows, columns=columns), counts[rows, columns])
        assert np.array_equal(ds.read("graphics", rows=1, columns=slice(0, 32)),
                              (np.arange(SIDE, SIDE + 32) % 16).astype(np.uint8))
        for rows in (STORED_ROWS, slice(STORED_ROWS - 1, STORED_ROWS + 1), None):
            with pytest.raises(tidewell.TidewellError) as caught:
                ds.read(rows=rows, columns=slice(0, 10))
            assert caught.value.status == 32


@pytest.mark.parametrize("chunks", [None, {"rows": 1024, "columns": 8192}])
def test_xarray(huge, chunks):
    path, counts = huge
    with xr.open_dataset(path, chunks=chunks) as x:
        data = x["avhrr_ch1"]
        assert data.shape == (SIDE, SIDE) and data.dtype == np.float32
        decoded = np.where(counts == -999, np.float32(np.nan), counts)
        for rows, columns in SELECTIONS:
            got = data[rows, columns].values
            assert np.array_equal(got, decoded[rows, columns], equal_nan=True)
        assert int(x["graphics"][2, 3].values) == (2 * SIDE + 3) % 16
        with pytest.raises(tidewell.TidewellError) as caught:
            data[STORED_ROWS:STORED_ROWS + 1, :10].values
        assert caught.value.status == 32
