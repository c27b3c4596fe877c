"""Open dataset ids, opened on demand and kept in a small least-recently-used
pool.

The library has 100 slots for open datasets in the whole process.  A
``Handle`` stands for one dataset the program has opened; it holds a slot
only while it is in the pool.  When the pool is full, or the library has no
free slot (another user of the library in the process holds them), the
least recently used handle gives its slot back, and opens its dataset again
when it is next read.  Keeping recently used datasets open matters: the first
read of a compressed dataset walks its whole stream to index the rows, and a
reopened one starts over.

A dataset reopened by path must still be the same file: its device, inode,
size and modification time are compared with those seen at the first open,
and a changed file is refused rather than mixed with what was read before.

Everything here runs with ``_library.lock`` held.
"""

import collections
import ctypes
import os

from . import _library

DEFAULT_MAX_OPEN = 32

_pool = collections.OrderedDict()   # Handle -> None, least recently used first
_max_open = DEFAULT_MAX_OPEN
_abandoned = collections.deque()    # ids of handles collected by the garbage collector


def set_max_open(n):
    """Sets how many datasets the package keeps open in the library at most
    (1 to 100; 32 by default); closes the least recently used beyond it."""
    global _max_open
    n = int(n)
    if not 1 <= n <= _library.TD_MAX_DATASETS:
        raise ValueError("max_open must be 1 to %d, not %d" % (_library.TD_MAX_DATASETS, n))
    with _library.lock:
        _max_open = n
        _drain()
        while len(_pool) > _max_open and _evict():
            pass


def get_max_open():
    """How many datasets the package keeps open in the library at most."""
    return _max_open


def open_count():
    """How many library slots the package holds now."""
    with _library.lock:
        _drain()
        return len(_pool)


def _signature(path):
    st = os.stat(path)
    return (st.st_dev, st.st_ino, st.st_size, st.st_mtime_ns)


def _drain():
    """Closes the ids of handles whose datasets were collected."""
    if not _abandoned:
        return
    lib = _library.library()
    while _abandoned:
        lib.td_close(_abandoned.popleft())
    for handle in [h for h in _pool if h._id is None]:
        del _pool[handle]


def _evict(keep=None):
    """Closes the least recently used open handle other than `keep`;
    False when there is none."""
    for handle in _pool:
        if handle is not keep:
            handle.close()
            return True
    return False


class Handle:
    """One dataset's claim on a library slot."""

    __slots__ = ("path", "_encoded", "_signature", "_id", "__weakref__")

    def __init__(self, path):
        self.path = path
        self._encoded = os.fsencode(path)
        self._signature = None
        self._id = None

    def id(self):
        """The dataset id, opening the dataset again when it was closed to
        make room.  Raises TidewellError when it cannot be opened."""
        if self._id is not None:
            _pool.move_to_end(self)
            return self._id
        _drain()
        while len(_pool) >= _max_open and _evict(self):
            pass
        lib = _library.library()
        dataset_id = ctypes.c_int(-1)
        while True:
            status = lib.td_open(self._encoded, _library.TD_READONLY, ctypes.byref(dataset_id))
            if status != _library.TD_EMAXDS or not _evict(self):
                break
        if status != 0:
            raise _library.error(status, self.path)
        try:
            signature = _signature(self.path)
        except OSError:
            signature = None
        if self._signature is not None and signature != self._signature:
            lib.td_close(dataset_id.value)
            raise _library.make_error(3, "dataset changed on disk since it was opened",
                                      self.path)
        self._signature = signature
        self._id = dataset_id.value
        _pool[self] = None
        return self._id

    def close(self):
        """Gives the slot back; the dataset is opened again when needed.
        A failed close leaves the slot taken (the library keeps the dataset
        open) and is not reported: a read-only dataset writes nothing back."""
        if self._id is None:
            return
        _library.library().td_close(self._id)
        self._id = None
        _pool.pop(self, None)

    def abandon(self):
        """For a collected dataset: close its id at the next locked call.
        Safe from a finalizer, which may run while the lock is held."""
        if self._id is not None:
            _abandoned.append(self._id)
            self._id = None
            # The pool entry goes at the next drain; popping here could
            # disturb an iteration of the pool in progress.


def _forget_after_fork():
    # The child shares the parent's open file descriptions: a read in the
    # child would move the parent's file offsets.  Its inherited ids are
    # left alone (their slots stay taken in the child) and its datasets
    # are opened afresh when read.
    for handle in list(_pool):
        handle._id = None
    _pool.clear()
    _abandoned.clear()


os.register_at_fork(after_in_child=_forget_after_fork)
