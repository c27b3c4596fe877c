"""The library's pool of datasets opened on demand (td_pool_*).

The library has 100 slots for open datasets in the whole process.  Every
dataset the package opens is a handle of the library's pool, which holds a
slot only while the dataset is being read or is among the most recently
used; the others are opened again when they are next read, and must then
still be the same file, unchanged.  The pool, its limit and its locking are
the library's: the package adds nothing to them.
"""

import ctypes

from . import _library


def set_max_open(n):
    """Sets how many datasets the library's pool keeps open at most (1 to
    100; 64 by default); closes the least recently used idle ones beyond it."""
    n = int(n)
    if not 1 <= n <= _library.TD_MAX_DATASETS:
        raise ValueError("max_open must be 1 to %d, not %d" % (_library.TD_MAX_DATASETS, n))
    _library.library().td_pool_setlimit(n)


def _inquire():
    limit, open_ids, handles = ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
    _library.library().td_pool_inq(ctypes.byref(limit), ctypes.byref(open_ids),
                                   ctypes.byref(handles))
    return limit.value, open_ids.value, handles.value


def get_max_open():
    """How many datasets the pool keeps open at most."""
    return _inquire()[0]


def open_count():
    """How many library slots the pool holds now."""
    return _inquire()[1]


def handle_count():
    """How many datasets the package has open (pool handles)."""
    return _inquire()[2]
