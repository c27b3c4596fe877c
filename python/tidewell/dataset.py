"""A Tidewell dataset opened read-only: its description, read once at open,
and blocks of its variables as numpy arrays."""

import collections
import contextlib
import ctypes
import datetime
import operator
import os
import threading
import weakref

import numpy as np

from . import _library, _pool, _sources
from .errors import TidewellError

__all__ = ["Dataset", "Variable", "open"]

# Largest block the library is asked for in one call, in values: the
# library keeps a buffer of the stored samples of the largest block read,
# so this bounds its memory whatever the size of the read (128 KiB).
_BAND_VALUES = 1 << 16

Variable = collections.namedtuple("Variable", "name dtype dimensions shape")
Variable.__doc__ = "A variable of a dataset: its name, numpy dtype, dimension names and shape."

_DIMENSIONS = ("rows", "columns")
_EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)
_MISSING = ("stored", "nan", "mask")


def open(source, storage_options=None):
    """Opens a Tidewell dataset read-only; the same as
    ``Dataset(source, storage_options)``.  `source` is a local path, an
    fsspec URL (``http://...``, ``zip://x.tdf::archive.zip``) or OpenFile,
    or a binary file object."""
    return Dataset(source, storage_options)


def _text(buffer):
    return buffer.value.decode("ascii", "replace")


def _error(status, target, item=None, message=None):
    """The exception of a failed call on a dataset opened on `target` (a
    path or a Source); for a Source, with what its file object met."""
    message = message or _library.strerror(status)
    if isinstance(target, _sources.Source):
        return _sources.with_cause(TidewellError(status, message, target.name, item), target)
    return _library.make_error(status, message, target, item)


def _describe(lib, dataset_id, target):
    """Everything the dataset object keeps, read through the td_ interface
    in the order tdfinfo reads it.  Raises TidewellError naming the item."""
    def check(status, item):
        if status != 0:
            raise _error(status, target, item)

    lengths = []
    for name in _DIMENSIONS:
        dimid = ctypes.c_int()
        check(lib.td_dimid(dataset_id, name.encode(), ctypes.byref(dimid)), name)
        lengths.append(dimid)
    for i, name in enumerate(_DIMENSIONS):
        length = ctypes.c_int()
        check(lib.td_diminq(dataset_id, lengths[i].value, None, ctypes.byref(length)), name)
        lengths[i] = length.value

    variables = []
    name = ctypes.create_string_buffer(_library.TD_VAR_NAME_SIZE)
    kind = ctypes.c_int16()
    check(lib.td_varinq(dataset_id, 0, name, ctypes.byref(kind), None, None, None), "variable 0")
    variables.append((_text(name), 0, kind.value))
    graphics = ctypes.c_int()
    status = lib.td_varid(dataset_id, b"graphics", ctypes.byref(graphics))
    if status == 0:
        check(lib.td_varinq(dataset_id, graphics.value, name, ctypes.byref(kind), None, None,
                            None), "graphics")
        variables.append((_text(name), graphics.value, kind.value))
    elif status != _library.TD_EBADVAR:
        check(status, "graphics")

    attrs = {}
    attribute = ctypes.create_string_buffer(_library.TD_ATT_NAME_SIZE)
    text = ctypes.create_string_buffer(_library.TD_ATT_TEXT_SIZE)
    scale = ctypes.c_int16()
    value = ctypes.c_int16()
    for number in range(_library.TD_NUM_ATTRIBUTES):
        check(lib.td_attinq(dataset_id, 0, number, attribute, ctypes.byref(kind),
                            ctypes.byref(scale)), "attribute %d" % number)
        key = _text(attribute)
        check(lib.td_attget_stored(dataset_id, 0, attribute, ctypes.byref(value)), key)
        if kind.value == _library.TD_ATT_ENUMERATED:
            status = lib.td_attget_text(dataset_id, 0, attribute, text)
            if status == 0:
                attrs[key] = _text(text)
            elif status == _library.TD_EBADATTVAL:
                attrs[key] = value.value        # a code without a name
            else:
                check(status, key)
        elif kind.value == _library.TD_ATT_SCALED:
            attrs[key] = value.value / scale.value
        else:
            attrs[key] = value.value
    return {"lengths": lengths, "variables": variables, "attrs": attrs,
            "derived": _derived(lib, dataset_id, lengths, check)}


def _derived(lib, dataset_id, lengths, check):
    """What the library says the header means: kind, storage, units, the
    orbit start time and the latitude/longitude grid."""
    kind = ctypes.create_string_buffer(_library.TD_KIND_NAME_SIZE)
    storage = ctypes.create_string_buffer(_library.TD_STORAGE_NAME_SIZE)
    units, long_name = (ctypes.create_string_buffer(_library.TD_UNITS_SIZE) for _ in range(2))
    check(lib.td_kindinq(dataset_id, None, kind), "data_id")
    check(lib.td_storageinq(dataset_id, None, storage), "compression_type")
    check(lib.td_unitsinq(dataset_id, units, long_name, None), "units")
    derived = {"data_kind": _text(kind), "storage": _text(storage),
               "units": units.value.decode("utf-8") or None,
               "long_name": long_name.value.decode("utf-8"), "time": None, "time_text": None}

    seconds, millisecond = ctypes.c_int64(), ctypes.c_int()
    text = ctypes.create_string_buffer(_library.TD_TIME_TEXT_SIZE)
    status = lib.td_timeinq(dataset_id, ctypes.byref(seconds), ctypes.byref(millisecond), text)
    if status == 0:
        derived["time"] = _EPOCH + datetime.timedelta(
            seconds=seconds.value, milliseconds=max(millisecond.value, 0))
        derived["time_text"] = _text(text)
    elif status != _library.TD_EBADATTVAL:      # a time that is not valid is no time
        check(status, "orbit_start_year")

    rows, columns = (max(n, 0) for n in lengths)
    latitude, longitude = np.empty(rows), np.empty(columns)
    grid = ctypes.c_int()
    check(lib.td_gridinq(dataset_id, ctypes.byref(grid), latitude.ctypes.data,
                         longitude.ctypes.data), "grid")
    derived["grid"] = None if grid.value == _library.TD_GRID_NONE else (latitude, longitude)
    return derived


def _open_handle(target):
    """A pool handle of the dataset at a path or on a Source; TidewellError
    when the library refuses it."""
    _pool.close_abandoned()
    if isinstance(target, _sources.Source):
        status, handle = target.pool_open()
        if status != 0:
            raise _error(status, target)
        return handle
    handle = ctypes.c_int(-1)
    status = _library.library().td_pool_open(os.fsencode(target), ctypes.byref(handle))
    if status != 0:
        raise _library.error(status, target)
    return handle.value


@contextlib.contextmanager
def _acquired(handle, target, storage):
    """The dataset id of a pool handle, for the time of a `with` block."""
    _pool.close_abandoned()
    lib = _library.library()
    dataset_id = ctypes.c_int(-1)
    status = lib.td_pool_acquire(handle, ctypes.byref(dataset_id))
    if status in (_library.TD_EUNCOMPFILE, _library.TD_ECOMPFILE):
        raise _changed_error(target, storage, status)
    if status != 0:
        raise _error(status, target)
    try:
        yield dataset_id.value
    finally:
        lib.td_pool_release(handle)


def _identity(dataset_id):
    """Size and modification time of the file the library opened."""
    size, modified = ctypes.c_int64(), ctypes.c_int64()
    _library.library().td_fileinq(dataset_id, None, None, ctypes.byref(size),
                                  ctypes.byref(modified), None)
    return (size.value, modified.value)


_CHANGED = "dataset changed on disk since it was opened"
_SOURCE_CHANGED = "dataset changed since it was opened: its size is not the one it had"


def _changed(target):
    return _SOURCE_CHANGED if isinstance(target, _sources.Source) else _CHANGED


def _changed_error(target, storage, status=None):
    """The error of a file that is no longer the one described."""
    if status is None:
        compressed = storage == "compressed"
        status = _library.TD_ECOMPFILE if compressed else _library.TD_EUNCOMPFILE
    return _error(status, target, message="%s (%s)" % (_library.strerror(status), _changed(target)))


def _read_error(status, dataset_id, target, item):
    """The error of a failed read, naming a change of the file."""
    changed = ctypes.c_int(0)
    _library.library().td_fileinq(dataset_id, None, None, None, None, ctypes.byref(changed))
    message = _library.strerror(status)
    if changed.value:
        message = "%s (%s)" % (message, _changed(target))
    return _error(status, target, item, message)


def _unpickle(target, description):
    """A dataset out of a pickle: described, its file not yet opened."""
    dataset = Dataset.__new__(Dataset)
    dataset._target = _sources.resolve(target)
    dataset._path = _sources.name_of(target)
    dataset._lock = threading.Lock()
    dataset._handle = None
    dataset._closed = False
    dataset._set_description(description)
    return dataset


def _axis(key, length, label):
    """(ascending range of indices, reversed?, dimension dropped?) of an
    index or slice along a dimension of `length`."""
    if key is None:
        return range(length), False, False
    if isinstance(key, slice):
        indices = range(*key.indices(length))
        if indices.step < 0:
            return indices[::-1], True, False
        return indices, False, False
    try:
        index = operator.index(key)
    except TypeError:
        raise TypeError("%s must be an integer, a slice or None, not %r" % (label, key)) from None
    if index < 0:
        index += length
    if not 0 <= index < length:
        raise IndexError("%s index %d is out of range for %d %s" % (label, key, length, label))
    return range(index, index + 1), False, True


class Dataset:
    """A Tidewell dataset, opened read-only.

    Opening reads the header only: dimensions, variables and the 57
    attributes.  Data is read by ``read``, a block at a time.  The object is
    a handle of the library's pool: it holds one of the library's 100
    open-dataset slots only while it is read or among the most recently used
    datasets (see ``tidewell.set_max_open``), and the file is opened again
    when it is needed.  Use it as a context manager, or call ``close``.
    Safe to use from several threads: reads of different datasets run at
    the same time.
    """

    def __init__(self, source, storage_options=None):
        # A path is made absolute at once: a lazy read after os.chdir, or a
        # copy unpickled in another directory, finds the same file.
        self._target = _sources.resolve(source, storage_options)
        self._path = _sources.name_of(self._target)
        self._closed = True
        self._lock = threading.Lock()
        self._handle = None
        handle = _open_handle(self._target)
        try:
            with _acquired(handle, self._target, None) as dataset_id:
                description = _describe(_library.library(), dataset_id, self._target)
                description["identity"] = _identity(dataset_id)
        except BaseException:
            _library.library().td_pool_close(handle)
            raise
        self._adopt(handle)
        self._set_description(description)

    def _adopt(self, handle):
        """Takes the pool handle; it is closed with the dataset, or when the
        dataset is collected."""
        self._handle = handle
        self._finalizer = weakref.finalize(self, _pool.abandon, handle)
        self._closed = False

    def _set_description(self, description):
        self._description = description
        self._rows, self._columns = description["lengths"]
        shape = (max(self._rows, 0), max(self._columns, 0))
        self._variables = {}
        self._varids = {}
        # The data variable is read as floats whatever its stored type (a
        # cloud dataset's bytes come as 0.0 to 255.0), as the GDAL driver
        # gives it; the graphics planes as bytes.
        for name, varid, value_type in description["variables"]:
            dtype = np.dtype(np.float32 if varid == 0 else np.uint8)
            self._variables[name] = Variable(name, dtype, _DIMENSIONS, shape)
            self._varids[name] = varid
        self._data_variable = description["variables"][0][0]
        self._attrs = description["attrs"]
        derived = description["derived"]
        self._data_kind = derived["data_kind"]
        self._storage = derived["storage"]
        self._units = derived["units"]
        self._long_name = derived["long_name"]
        self._time = derived["time"]
        self._time_text = derived["time_text"]
        self._grid = derived["grid"]

    # Description -------------------------------------------------------

    @property
    def path(self):
        """The absolute path of the dataset, as it was when it was opened;
        for one opened on a URL, the URL; on a file object, its name."""
        return self._path

    @property
    def dimensions(self):
        """{"rows": rows, "columns": columns} as the header gives them."""
        return {"rows": self._rows, "columns": self._columns}

    @property
    def shape(self):
        """(rows, columns) of every variable (a negative header length counts as 0)."""
        return self._variables[self._data_variable].shape

    @property
    def variables(self):
        """{name: Variable}: the data variable, named after the channel, then
        "graphics" where the dataset has graphics planes."""
        return dict(self._variables)

    @property
    def data_variable(self):
        """The name of the data variable (the channel's name, as avhrr_ch4)."""
        return self._data_variable

    @property
    def data_kind(self):
        """infrared, visible, scan time, angle or cloud."""
        return self._data_kind

    @property
    def storage(self):
        """plain, compressed or unsupported (a compression this library cannot read)."""
        return self._storage

    @property
    def attrs(self):
        """The 57 header attributes in header order: enumerated ones as the
        name of their value (the integer code where it has no name), short
        ones as int, scaled ones (latitudes, longitudes, resolution) as float."""
        return dict(self._attrs)

    @property
    def units(self):
        """Unit of the data variable: "%" (albedo), "°C", "degrees", "hours",
        or None (raw counts, cloud bytes)."""
        return self._units

    @property
    def long_name(self):
        """What the data variable's values are ("brightness temperature", ...)."""
        return self._long_name

    @property
    def fill_value(self):
        """-999.0, the value a plain read of the data variable gives for a
        missing sample (scan times and cloud bytes never are missing)."""
        return _library.BAD_VALUE

    @property
    def time(self):
        """The orbit start time as a UTC datetime, or None when the header's
        fields give no valid time."""
        return self._time

    @property
    def time_text(self):
        """The orbit start time as the library writes it, ISO 8601 UTC
        ("2024-06-23T13:42:27.500Z"), or None."""
        return self._time_text

    @property
    def latitude(self):
        """Latitude of the centre of each row (float64 degrees north) for a
        linear or Mercator dataset, else None."""
        return None if self._grid is None else self._grid[0].copy()

    @property
    def longitude(self):
        """Longitude of the centre of each column (float64 degrees east) for
        a linear or Mercator dataset, else None."""
        return None if self._grid is None else self._grid[1].copy()

    # Data -------------------------------------------------------------

    def read(self, name=None, rows=None, columns=None, missing="stored"):
        """Reads a block of a variable as a numpy array.

        `name` is the data variable (the default) or "graphics".  `rows` and
        `columns` each take None (all), an integer (that row or column; the
        dimension is dropped, as numpy does) or a slice (steps and negative
        indices as in numpy).  Only the rows selected are read from the file.

        The data variable comes back as float32 values calibrated by the
        library (a cloud dataset's bytes as 0.0 to 255.0), "graphics" as uint8
        plane bits (plane p is bit p - 1).  Missing samples of the data
        variable are -999.0 as stored with ``missing="stored"``, NaN with
        ``missing="nan"``, or masked in a numpy.ma.MaskedArray with
        ``missing="mask"``; other variables have no missing samples.
        """
        if missing not in _MISSING:
            raise ValueError("missing must be one of %s, not %r" % (", ".join(_MISSING), missing))
        self._check_open()
        if name is None:
            name = self._data_variable
        variable = self._variables.get(name)
        if variable is None:
            raise KeyError("%s: no variable %r; the variables are %s"
                           % (self._path, name, ", ".join(self._variables)))
        row_range, row_reversed, row_dropped = _axis(rows, variable.shape[0], "rows")
        col_range, col_reversed, col_dropped = _axis(columns, variable.shape[1], "columns")
        masked = name == self._data_variable
        nan = masked and missing == "nan"

        span = col_range[-1] - col_range[0] + 1 if col_range else 0
        out = np.empty((len(row_range), span), dtype=variable.dtype)
        if out.size:
            self._read_rows(name, variable.dtype, row_range, col_range[0], span, out, nan)
        if col_range.step != 1:
            out = np.ascontiguousarray(out[:, ::col_range.step])
        if row_reversed:
            out = out[::-1]
        if col_reversed:
            out = out[:, ::-1]
        if masked and missing == "mask":
            out = np.ma.MaskedArray(out, mask=out == _library.BAD_VALUE,
                                    fill_value=_library.BAD_VALUE)
        if row_dropped and col_dropped:
            return out[0, 0]
        if row_dropped:
            return out[0]
        if col_dropped:
            return out[:, 0]
        return out

    def _read_rows(self, name, dtype, row_range, column, span, out, nan):
        """Fills `out` with rows `row_range` (ascending) of columns
        column .. column + span - 1, in blocks of at most _BAND_VALUES."""
        contiguous = row_range.step == 1
        band = max(1, _BAND_VALUES // span) if contiguous else 1
        lib = _library.library()
        read = lib.td_varget_float if dtype.kind == "f" else lib.td_varget_byte
        varid = self._varids[name]
        with _acquired(self._live_handle(), self._target, self._storage) as dataset_id:
            first = 0
            while first < len(row_range):
                n = min(band, len(row_range) - first)
                start, count = _library.block((row_range[first], column), (n, span))
                target = out[first:first + n]
                status = read(dataset_id, varid, start, count, target.ctypes.data)
                if status != 0:
                    raise _read_error(status, dataset_id, self._target, name)
                if nan:
                    np.copyto(target, np.nan, where=target == _library.BAD_VALUE)
                first += n

    def _live_handle(self):
        """The pool handle, opening the file at the first read of a dataset
        that came out of a pickle: it must be the file that was described,
        as far as its size and modification time tell."""
        with self._lock:
            self._check_open()
            if self._handle is not None:
                return self._handle
            handle = _open_handle(self._target)
            try:
                with _acquired(handle, self._target, self._storage) as dataset_id:
                    same = _identity(dataset_id) == self._description["identity"]
                if not same:
                    raise _changed_error(self._target, self._storage)
            except BaseException:
                _library.library().td_pool_close(handle)
                raise
            self._adopt(handle)
            return handle

    # Life -------------------------------------------------------------

    @property
    def closed(self):
        return self._closed

    def _check_open(self):
        if self._closed:
            raise ValueError("I/O operation on a closed dataset: %s" % self._path)

    def close(self):
        """Closes the dataset and gives its library slot back; reads fail
        afterwards (a read in progress in another thread ends first).
        Closing twice does nothing."""
        with self._lock:
            if self._closed:
                return
            self._closed = True
            if self._handle is not None:
                self._finalizer()
        _pool.close_abandoned()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __reduce__(self):
        # Another process gets the description and opens the file at its
        # first read: unpickling never touches the file, so a worker that
        # cannot read it fails in the task that reads, with a TidewellError
        # the scheduler hands back to the caller.
        # A dataset on a URL carries its OpenFile; one on a file object
        # cannot be pickled (TypeError).
        target = self._target
        if isinstance(target, _sources.Source):
            target = target.reduce_target()
        return (_unpickle, (target, self._description))

    def __repr__(self):
        state = "closed " if self._closed else ""
        return "<%stidewell.Dataset %r: %s %s, %d x %d, %s>" % (
            state, self._path, self._data_kind, self._data_variable, self._rows,
            self._columns, self._storage)
