"""Tidewell satellite datasets in Python: numpy arrays and an xarray backend.

    import tidewell
    with tidewell.open("sst.tdf") as ds:
        print(ds.data_variable, ds.shape, ds.attrs["satellite_id"])
        block = ds.read(rows=slice(100, 200), columns=slice(0, 50), missing="nan")

    import xarray as xr
    sst = xr.open_dataset("sst.tdf")          # engine "tidewell", found by itself

A thin layer over the C library libtidewell.so.1 (through ctypes), found
through $TIDEWELL_LIBRARY, next to this package, or by the system loader.
Every failed library call raises TidewellError, an OSError carrying the
library's status and message.
"""

from ._pool import get_max_open, set_max_open
from ._library import BAD_VALUE, library_path, strerror
from .dataset import Dataset, Variable, open
from .errors import (TidewellError, TidewellFileNotFoundError, TidewellIsADirectoryError,
                     TidewellPermissionError)

__version__ = "1.0.0"

__all__ = [
    "BAD_VALUE",
    "Dataset",
    "TidewellError",
    "TidewellFileNotFoundError",
    "TidewellIsADirectoryError",
    "TidewellPermissionError",
    "Variable",
    "get_max_open",
    "library_path",
    "open",
    "set_max_open",
    "strerror",
]
