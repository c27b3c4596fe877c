"""Arrays read through the package equal, to the bit, the library's own
reads from C, for every data kind, plain and compressed, and shifted; for
whole variables, blocks and slices; through tidewell and through xarray."""

import numpy as np
import pytest
import xarray as xr

import tidewell
from support import reference, same_bits, write_dataset

ROWS, COLUMNS = 7, 70
rng = np.random.default_rng(13)


def sensor():
    # Every kind of stored value: valid, zero and negative (missing), and
    # beyond the raw range.
    return rng.integers(-2047, 2048, size=(ROWS, COLUMNS))


def nibbles():
    return rng.integers(0, 16, size=(ROWS, COLUMNS))


def unsigned16():
    return rng.integers(0, 65536, size=(ROWS, COLUMNS))


# Raw counts from below 1 to beyond 1024.
RAW = (np.arange(ROWS * COLUMNS).reshape(ROWS, COLUMNS) * 7) % 1400 - 200


def counts_of(v):
    return np.where((v >= 1) & (v <= 1024), v - 1, -999.0).astype(np.float32)


# name: description, and the expected data variable where it follows
# directly from the values written.
CASES = {
    "visible": (dict(kind="visible", values=sensor(), nibbles=nibbles()), None),
    "visible-compressed": (dict(kind="visible", compressed=True, values=sensor(),
                                nibbles=nibbles()), None),
    "infrared": (dict(kind="infrared", values=sensor(), nibbles=nibbles()), None),
    "infrared-compressed": (dict(kind="infrared", compressed=True, values=sensor(),
                                 nibbles=nibbles()), None),
    "infrared-raw": (dict(kind="infrared", values=RAW, calibration_type=0), counts_of(RAW)),
    "visible-raw-compressed": (dict(kind="visible", compressed=True, calibration_type=0,
                                    values=RAW[::-1]), counts_of(RAW[::-1])),
    "sst": (dict(kind="infrared", channel_number=201, values=sensor()), None),
    "scan-angle": (dict(kind="ancillary", channel_number=101, values=unsigned16()), None),
    "sat-zenith": (dict(kind="ancillary", channel_number=102, values=unsigned16()), None),
    "solar-zenith": (dict(kind="ancillary", channel_number=103, values=unsigned16()), None),
    "rel-azimuth": (dict(kind="ancillary", channel_number=104, values=unsigned16()), None),
    "scan-time": (dict(kind="ancillary", channel_number=105,
                       values=rng.integers(-32768, 32768, size=(ROWS, COLUMNS))), None),
    "cloud": (dict(kind="cloud", columns=140, values=np.arange(ROWS * 140) % 256),
              (np.arange(ROWS * 140) % 256).astype(np.float32).reshape(ROWS, 140)),
    "infrared-shifted-compressed": (dict(kind="infrared", compressed=True, values=sensor(),
                                         nibbles=nibbles(), vertical_shift=2,
                                         horizontal_shift=-3), None),
    "visible-shifted": (dict(kind="visible", values=sensor(), nibbles=nibbles(),
                             vertical_shift=-1, horizontal_shift=5), None),
    "angle-shifted": (dict(kind="ancillary", channel_number=102, values=unsigned16(),
                           vertical_shift=3, horizontal_shift=-60), None),
    "cloud-shifted": (dict(kind="cloud", columns=140, values=np.arange(ROWS * 140) % 251,
                           vertical_shift=1, horizontal_shift=-7), None),
}

# (rows, columns) selections and the numpy index that gives the same block.
BLOCKS = [
    (None, None),
    (slice(2, 5), slice(10, 50, 3)),
    (slice(None, None, -2), slice(-5, None)),
    (slice(1, 7, 3), slice(69, 0, -7)),
    (3, None),
    (None, 7),
    (-1, -1),
    (slice(5, 2), None),
    (slice(0, 7), slice(70, 80)),
]


@pytest.fixture(scope="module", params=sorted(CASES))
def case(request, tmp_path_factory):
    description, expected = CASES[request.param]
    path = write_dataset(tmp_path_factory.mktemp(request.param) / "data.tdf",
                         **{"rows": ROWS, "columns": COLUMNS, **description})
    with tidewell.open(path) as ds:
        names = list(ds.variables)
    return path, {name: reference(path, name) for name in names}, expected


def index(selection):
    return tuple(slice(None) if s is None else s for s in selection)


@pytest.mark.parametrize("band", [1 << 18, 100], ids=["one-call", "many-calls"])
def test_tidewell_reads(case, band, monkeypatch):
    # A small band makes every read many library calls of a few rows.
    monkeypatch.setattr(tidewell.dataset, "_BAND_VALUES", band)
    path, references, expected = case
    with tidewell.open(path) as ds:
        data = references[ds.data_variable]
        if expected is not None:
            assert same_bits(data, expected)
        for name, ref in references.items():
            for rows, columns in BLOCKS:
                got = ds.read(name, rows=rows, columns=columns)
                assert same_bits(got, ref[index((rows, columns))]), (name, rows, columns)
        bad = data == np.float32(tidewell.BAD_VALUE)
        assert ds.fill_value == tidewell.BAD_VALUE
        assert same_bits(ds.read(missing="nan"), np.where(bad, np.float32(np.nan), data))
        masked = ds.read(missing="mask", rows=slice(1, 6))
        assert same_bits(masked.mask, bad[1:6]) and same_bits(masked.data, data[1:6])


def test_xarray_reads(case):
    path, references, _ = case
    with xr.open_dataset(path, engine="tidewell", mask_and_scale=False) as raw, \
            xr.open_dataset(path) as decoded:
        assert set(raw.data_vars) == set(references) == set(decoded.data_vars)
        for name, ref in references.items():
            assert raw[name].dims == ("rows", "columns")
            assert same_bits(raw[name].values, ref)
            assert same_bits(raw[name][2:5, ::-3].values, ref[2:5, ::-3])
            fill = raw[name].attrs.get("_FillValue")
            if fill is None:
                assert same_bits(decoded[name].values, ref)
                continue
            assert fill == np.float32(-999.0)
            assert decoded[name].encoding["_FillValue"] == fill
            want = np.where(ref == fill, np.float32(np.nan), ref)
            assert same_bits(decoded[name].values, want)
            assert same_bits(decoded[name].isel(rows=4, columns=slice(3, 9)).values, want[4, 3:9])
