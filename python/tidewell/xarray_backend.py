"""The xarray backend: ``xr.open_dataset(path, engine="tidewell")``, also on
an fsspec URL (``xr.open_dataset("http://host/x.tdf", engine="tidewell")``,
with ``storage_options`` for fsspec), an fsspec OpenFile or a binary file
object.

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

from . import _library, _sources
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


def open_xarray(source, drop_variables=None, mask_and_scale=True, storage_options=None):
    """The xarray.Dataset of a Tidewell dataset (what the backend gives)."""
    dataset = Dataset(source, storage_options)
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


def _first_bytes(f):
    """The first bytes of a file object, leaving its position as it was."""
    at = f.tell()
    try:
        f.seek(0)
        return f.read(_library.TD_IDENTIFY_SIZE)
    finally:
        f.seek(at)


class TidewellBackendEntrypoint(BackendEntrypoint):
    """Opens Tidewell satellite datasets through libtidewell."""

    description = "Tidewell satellite datasets (.tdf) through libtidewell"
    open_dataset_parameters = ("filename_or_obj", "drop_variables", "mask_and_scale", "storage_options")

    def open_dataset(self, filename_or_obj, *, drop_variables=None, mask_and_scale=True,
                     storage_options=None):
        return open_xarray(filename_or_obj, drop_variables=drop_variables,
                           mask_and_scale=bool(mask_and_scale), storage_options=storage_options)

    def guess_can_open(self, filename_or_obj):
        """A file the library recognises as a dataset from its first bytes
        (td_identify); a path that cannot be read, or is not a regular file,
        is claimed by its .tdf name alone, so that opening it reports why.
        A URL is claimed by its .tdf name, without fetching anything; a
        file object by its first bytes.  Any other file is left to the other
        engines."""
        if _sources.is_url(filename_or_obj):
            return filename_or_obj.split("?")[0].split("::")[0].lower().endswith(".tdf")
        if _sources.is_file_object(filename_or_obj) and hasattr(filename_or_obj, "tell"):
            try:
                return _library.identify(_first_bytes(filename_or_obj)) == 0
            except (OSError, ValueError, TypeError):
                return False
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
