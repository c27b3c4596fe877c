"""The shared library libtidewell.so.1 through ctypes: finding and loading it
and the prototypes of the td_ operations.

The library is safe to call from any thread: calls on different datasets
run at once, calls on one dataset are serialised inside it.  ctypes lets go
of the interpreter's lock during each call, so threads (dask's default
scheduler) read different datasets in parallel.  The library is loaded on
first use, so importing the package (as xarray does for every backend it
lists) never fails for want of it.
"""

import ctypes
import os
import threading

from .errors import make_error

LIBRARY_NAME = "libtidewell.so.1"

# Constants of tidewell.h.
TD_READONLY = 0
TD_BYTE = 0
TD_FLOAT = 3
TD_NUM_ATTRIBUTES = 57
TD_MAX_DATASETS = 100
TD_DIM_NAME_SIZE = 8
TD_VAR_NAME_SIZE = 14
TD_ATT_TEXT_SIZE = 19
TD_ATT_NAME_SIZE = 24
TD_ATT_ENUMERATED = 1
TD_ATT_SHORT = 2
TD_ATT_SCALED = 3
TD_EBADVAR = 15
TD_EBADATTVAL = 21
TD_EMAXDS = 23
TD_EUNCOMPFILE = 45
TD_ECOMPFILE = 46
BAD_VALUE = -999.0
TD_IDENTIFY_SIZE = 72
TD_KIND_NAME_SIZE = 10
TD_STORAGE_NAME_SIZE = 12
TD_UNITS_SIZE = 32
TD_TIME_TEXT_SIZE = 25
TD_GRID_NONE = 0

_load_lock = threading.Lock()
_lib = None
_lib_path = None

_c_int_p = ctypes.POINTER(ctypes.c_int)
_c_int16_p = ctypes.POINTER(ctypes.c_int16)
_block = ctypes.c_uint32 * 2

# The callbacks of td_open_callbacks and td_pool_open_callbacks.
READ_FUNC = ctypes.CFUNCTYPE(ctypes.c_int64, ctypes.c_void_p, ctypes.c_int64, ctypes.c_void_p,
                             ctypes.c_size_t)
SIZE_FUNC = ctypes.CFUNCTYPE(ctypes.c_int64, ctypes.c_void_p)
CLOSE_FUNC = ctypes.CFUNCTYPE(None, ctypes.c_void_p)

_PROTOTYPES = {
    "td_open": (ctypes.c_int, [ctypes.c_char_p, ctypes.c_int, _c_int_p]),
    "td_close": (ctypes.c_int, [ctypes.c_int]),
    "td_dimid": (ctypes.c_int, [ctypes.c_int, ctypes.c_char_p, _c_int_p]),
    "td_diminq": (ctypes.c_int, [ctypes.c_int, ctypes.c_int, ctypes.c_char_p, _c_int_p]),
    "td_varid": (ctypes.c_int, [ctypes.c_int, ctypes.c_char_p, _c_int_p]),
    "td_varinq": (ctypes.c_int, [ctypes.c_int, ctypes.c_int, ctypes.c_char_p, _c_int16_p,
                                 _c_int_p, _c_int_p, _c_int_p]),
    "td_attget_text": (ctypes.c_int, [ctypes.c_int, ctypes.c_int, ctypes.c_char_p,
                                      ctypes.c_char_p]),
    "td_attinq": (ctypes.c_int, [ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_char_p,
                                 _c_int16_p, _c_int16_p]),
    "td_attget_stored": (ctypes.c_int, [ctypes.c_int, ctypes.c_int, ctypes.c_char_p,
                                        _c_int16_p]),
    "td_strerror": (ctypes.c_char_p, [ctypes.c_int]),
    "td_varget_float": (ctypes.c_int, [ctypes.c_int, ctypes.c_int, _block, _block,
                                       ctypes.c_void_p]),
    "td_varget_byte": (ctypes.c_int, [ctypes.c_int, ctypes.c_int, _block, _block,
                                      ctypes.c_void_p]),
    "td_identify": (ctypes.c_int, [ctypes.c_char_p, ctypes.c_size_t]),
    "td_pool_open_callbacks": (ctypes.c_int, [ctypes.c_void_p, READ_FUNC, SIZE_FUNC, CLOSE_FUNC,
                                              _c_int_p]),
    "td_kindinq": (ctypes.c_int, [ctypes.c_int, _c_int_p, ctypes.c_char_p]),
    "td_storageinq": (ctypes.c_int, [ctypes.c_int, _c_int_p, ctypes.c_char_p]),
    "td_unitsinq": (ctypes.c_int, [ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p,
                                   ctypes.c_char_p]),
    "td_timeinq": (ctypes.c_int, [ctypes.c_int, ctypes.POINTER(ctypes.c_int64), _c_int_p,
                                  ctypes.c_char_p]),
    "td_gridinq": (ctypes.c_int, [ctypes.c_int, _c_int_p, ctypes.c_void_p, ctypes.c_void_p]),
    "td_fileinq": (ctypes.c_int, [ctypes.c_int, ctypes.POINTER(ctypes.c_uint64),
                                  ctypes.POINTER(ctypes.c_uint64), ctypes.POINTER(ctypes.c_int64),
                                  ctypes.POINTER(ctypes.c_int64), _c_int_p]),
    "td_pool_open": (ctypes.c_int, [ctypes.c_char_p, _c_int_p]),
    "td_pool_acquire": (ctypes.c_int, [ctypes.c_int, _c_int_p]),
    "td_pool_release": (ctypes.c_int, [ctypes.c_int]),
    "td_pool_close": (ctypes.c_int, [ctypes.c_int]),
    "td_pool_setlimit": (ctypes.c_int, [ctypes.c_int]),
    "td_pool_inq": (ctypes.c_int, [_c_int_p, _c_int_p, _c_int_p]),
}


def _candidates():
    """Where the library is looked for, in order: $TIDEWELL_LIBRARY alone
    when it is set; else a copy next to the package (a build tree puts one
    there); else the system loader (LD_LIBRARY_PATH, the loader cache)."""
    explicit = os.environ.get("TIDEWELL_LIBRARY")
    if explicit:
        return [explicit]
    beside = os.path.join(os.path.dirname(os.path.abspath(__file__)), LIBRARY_NAME)
    return ([beside] if os.path.exists(beside) else []) + [LIBRARY_NAME]


def _load():
    global _lib, _lib_path
    failures = []
    for candidate in _candidates():
        try:
            lib = ctypes.CDLL(candidate)
        except OSError as e:
            failures.append(str(e))
            continue
        try:
            for name, (restype, argtypes) in _PROTOTYPES.items():
                function = getattr(lib, name)
                function.restype = restype
                function.argtypes = argtypes
        except AttributeError as e:
            failures.append("%s: not a usable Tidewell library (%s)" % (candidate, e))
            continue
        _lib, _lib_path = lib, candidate
        return lib
    raise OSError("cannot load the Tidewell library %s (set TIDEWELL_LIBRARY to its path): %s"
                  % (LIBRARY_NAME, "; ".join(failures)))


def library():
    """The loaded library, loaded on first use."""
    if _lib is not None:
        return _lib
    with _load_lock:
        return _lib if _lib is not None else _load()


def library_path():
    """The path or name the library was loaded from."""
    library()
    return _lib_path


def identify(head):
    """The status td_open would give for a file beginning with the bytes
    `head` (0: a dataset the library opens)."""
    head = bytes(head[:TD_IDENTIFY_SIZE])
    return library().td_identify(head, len(head))


def strerror(status):
    """The library's message of a status code."""
    return library().td_strerror(status).decode("ascii", "replace")


def error(status, filename=None, item=None):
    """The exception of a failed call."""
    return make_error(status, strerror(status), filename, item)


def block(start, count):
    """Start and count of a block as the library takes them."""
    return _block(*start), _block(*count)
