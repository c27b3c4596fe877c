"""The xarray backend: ``xr.open_dataset(path, engine="tidewell")``.

Variables are read lazily: opening reads the header only, and indexing a
variable reads only the rows it selects.  The data variable carries
``_FillValue`` -999.0; with ``mask_and_scale=True`` (xarray's default)
missing samples arrive as NaN and the fill value moves to the variable's
encoding, as xarray's own decoding does for a netCDF file.
"""

import builtins
import os
import stat

import numpy as np
from xarray import Dataset as _XrDataset
from xarray import Variable as _XrVariable
from xarray.backends import BackendArray, BackendEntrypoint
from xarray.core import indexing

from . import _library
from .dataset import Dataset

__all__ = ["TidewellBackendArray", "TidewellBackendEntrypoint"]

class TidewellBackendArray(BackendArray):
    """One variable of a Tidewell dataset, read on demand."""

    def __init__(self, dataset, name, decode_missing):
        self.dataset = dataset
        self.name = name
        variable = dataset.variables[name]
        self.shape = variable.shape
        self.dtype = variable.dtype
        self._missing = "nan" if decode_missing else "stored"

    def __getitem__(self, key):
        return indexing.explicit_indexing_adapter(
            key, self.shape, indexing.IndexingSupport.BASIC, self._raw_indexing_method)

    def _raw_indexing_method(self, key):
        rows, columns = key
        return self.dataset.read(self.name, rows=rows, columns=columns, missing=self._missing)


def _lazy(dataset, name, decode_missing):
    return indexing.LazilyIndexedArray(TidewellBackendArray(dataset, name, decode_missing))


def _variables(dataset, mask_and_scale):
    dims = ("rows", "columns")
    data_attrs = {}
    if dataset.long_name is not None:
        data_attrs["long_name"] = dataset.long_name
    if dataset.units is not None:
        data_attrs["units"] = dataset.units
    encoding = {"dtype": dataset.variables[dataset.data_variable].dtype}
    fill = dataset.fill_value
    if fill is not None:
        fill = np.float32(fill)
        if mask_and_scale:
            encoding["_FillValue"] = fill
        else:
            data_attrs["_FillValue"] = fill
    variables = {
        dataset.data_variable: _XrVariable(
            dims, _lazy(dataset, dataset.data_variable, mask_and_scale and fill is not None),
            data_attrs, encoding),
    }
    if "graphics" in dataset.variables:
        variables["graphics"] = _XrVariable(
            dims, _lazy(dataset, "graphics", False),
            {"long_name": "graphics planes",
             "flag_masks": np.array([1, 2, 4, 8], dtype=np.uint8),
             "flag_meanings": "plane_1 plane_2 plane_3 plane_4"},
            {"dtype": np.dtype(np.uint8)})
    coords = {}
    latitude, longitude = dataset.latitude, dataset.longitude
    if latitude is not None:
        coords["latitude"] = _XrVariable(
            "rows", latitude,
            {"standard_name": "latitude", "long_name": "latitude",
             "comment": "at the centres of the rows",
             "units": "degrees_north"})
        coords["longitude"] = _XrVariable(
            "columns", longitude,
            {"standard_name": "longitude", "long_name": "longitude",
             "comment": "at the centres of the columns",
             "units": "degrees_east"})
    return variables, coords


def open_xarray(path, drop_variables=None, mask_and_scale=True):
    """The xarray.Dataset of a Tidewell dataset (what the backend gives)."""
    dataset = Dataset(path)
    try:
        variables, coords = _variables(dataset, mask_and_scale)
        if isinstance(drop_variables, str):
            drop_variables = [drop_variables]
        for name in drop_variables or ():
            variables.pop(name, None)
            coords.pop(name, None)
        attrs = dataset.attrs
        if dataset.time_text is not None:
            attrs["time"] = dataset.time_text
        result = _XrDataset(variables, coords=coords, attrs=attrs)
    except BaseException:
        dataset.close()
        raise
    result.set_close(dataset.close)
    return result


def _path_of(filename_or_obj):
    try:
        path = os.fspath(filename_or_obj)
    except TypeError:
        return None
    return os.fsdecode(path) if isinstance(path, bytes) else path


class TidewellBackendEntrypoint(BackendEntrypoint):
    """Opens Tidewell satellite datasets through libtidewell."""

    description = "Tidewell satellite datasets (.tdf) through libtidewell"
    open_dataset_parameters = ("filename_or_obj", "drop_variables", "mask_and_scale")

    def open_dataset(self, filename_or_obj, *, drop_variables=None, mask_and_scale=True):
        path = _path_of(filename_or_obj)
        if path is None:
            raise TypeError("the tidewell engine opens datasets by path, not %r"
                            % type(filename_or_obj).__name__)
        return open_xarray(path, drop_variables=drop_variables,
                           mask_and_scale=bool(mask_and_scale))

    def guess_can_open(self, filename_or_obj):
        """A file the library recognises as a dataset from its first bytes
        (td_identify); a path that cannot be read, or is not a regular file,
        is claimed by its .tdf name alone, so that opening it reports why.
        Any other file is left to the other engines."""
        path = _path_of(filename_or_obj)
        if path is None:
            return False
        named = path.lower().endswith(".tdf")
        try:
            if not stat.S_ISREG(os.stat(path).st_mode):
                return named            # a FIFO is never opened: it could block
            with builtins.open(path, "rb") as f:
                head = f.read(_library.TD_IDENTIFY_SIZE)
        except (OSError, ValueError):
            return named
        try:
            return _library.identify(head) == 0
        except OSError:                 # no library: opening says so
            return named
