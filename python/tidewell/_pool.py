"""The library's pool of datasets opened on demand (td_pool_*).

The library has 100 slots for open datasets in the whole process.  Every
dataset the package opens is a handle of the library's pool, which holds a
slot only while the dataset is being read or is among the most recently
used; the others are opened again when they are next read, and must then
still be the same file, unchanged.  The pool, its limit and its locking are
the library's: the package adds nothing to them.
"""

import collections
import ctypes

from . import _library, _sources

# Pool handles of datasets the garbage collector took, closed at the next
# call of the package rather than by the finalizer itself: a finalizer may
# run while the library holds its pool's lock to call back into Python (the
# read of a file object opens a dataset), on this thread or on fsspec's,
# and a close would wait for that lock for ever.
_abandoned = collections.deque()


def abandon(handle):
    """The finalizer of a dataset: its handle is closed at the next call."""
    _abandoned.append(handle)


def close_abandoned():
    """Closes the handles of collected datasets; nothing inside a callback
    of the library."""
    if _sources.in_callback():
        return
    while True:
        try:
            handle = _abandoned.popleft()
        except IndexError:
            return
        _library.library().td_pool_close(handle)


def set_max_open(n):
    """Sets how many datasets the library's pool keeps open at most (1 to
    100; 64 by default); closes the least recently used idle ones beyond it."""
    n = int(n)
    if not 1 <= n <= _library.TD_MAX_DATASETS:
        raise ValueError("max_open must be 1 to %d, not %d" % (_library.TD_MAX_DATASETS, n))
    close_abandoned()
    _library.library().td_pool_setlimit(n)


def _inquire():
    close_abandoned()
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
