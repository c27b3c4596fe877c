"""Where a dataset's bytes come from.

A dataset is opened on a local path, which the library opens itself, or on
a source that the library reads through callbacks into Python
(``td_pool_open_callbacks``):

- a binary file object: anything with ``seek`` and ``readinto`` or
  ``read`` (an open file, ``io.BytesIO``, a member of a ``zipfile``, a file
  object of fsspec or of another library).  It stays the caller's: it must
  stay open while the dataset is used, and it is never closed here; reads
  move its position.  A dataset on it cannot be pickled.
- an fsspec URL (``http://...``, ``zip://x.tdf::archive.zip``, ``s3://...``)
  or an ``fsspec.core.OpenFile``.  The file is opened when the dataset is,
  and closed with it; a pickled dataset carries the OpenFile and opens it
  again where it is read.  ``file://`` URLs are local paths.

The library asks for the header, then for the rows each read covers (the
whole compressed stream once, to index its rows), and for the size at the
end of each read: a source whose size changed is refused as a file written
in place is.
"""

import ctypes
import os
import re
import threading
import weakref

from . import _library
from .errors import TidewellFileNotFoundError, TidewellIsADirectoryError, TidewellPermissionError

_URL = re.compile(r"^[A-Za-z][A-Za-z0-9+.\-]*://")
# How fsspec reads over HTTP when the caller says nothing: blocks of 1 MiB
# (its own 5 MiB would fetch a good part of a dataset to read its 1 KiB
# header), each fetched once as reads go forward ("readahead": its default
# cache fetches each block of a forward read about twice).
_HTTP_OPTIONS = {"block_size": 1 << 20, "cache_type": "readahead"}

# The sources the library holds datasets on, by the number given to it as
# the user pointer: a callback finds its source here.
_live = {}
_live_lock = threading.Lock()
_numbers = iter(range(1, 1 << 62))

# One lock per file object for its seek and read: the library serialises
# the calls on one dataset, but two datasets may be opened on one file
# object and read from two threads.
_file_locks = weakref.WeakKeyDictionary()
_shared_lock = threading.Lock()     # for file objects that take no weak reference


def _lock_of(f):
    with _live_lock:
        try:
            return _file_locks.setdefault(f, threading.Lock())
        except TypeError:
            return _shared_lock


def is_url(target):
    return isinstance(target, str) and _URL.match(target) is not None


def is_file_object(target):
    return hasattr(target, "seek") and (hasattr(target, "readinto") or hasattr(target, "read"))


def _is_openfile(target):
    try:
        from fsspec.core import OpenFile
    except ImportError:
        return False
    return isinstance(target, OpenFile)


def _protocols(openfile):
    protocol = openfile.fs.protocol
    return (protocol,) if isinstance(protocol, str) else tuple(protocol)


def _open_url(url, storage_options):
    try:
        import fsspec
    except ImportError:
        raise ImportError("%s: reading a URL needs fsspec (Debian: python3-fsspec, and "
                          "python3-aiohttp for http)" % url) from None
    options = dict(storage_options or {})
    if url.lower().startswith(("http://", "https://")):
        for key, value in _HTTP_OPTIONS.items():
            options.setdefault(key, value)
    return fsspec.open(url, "rb", **options)


def resolve(target, storage_options=None):
    """What a dataset is opened on: an absolute local path (str), or a
    Source.  Raises TypeError for anything else."""
    if is_url(target):
        target = _open_url(target, storage_options)
    elif storage_options:
        raise TypeError("storage_options are for fsspec URLs, not for %r" % (target,))
    if _is_openfile(target):
        if {"file", "local"} & set(_protocols(target)):
            return os.path.abspath(target.path)
        return Source(target)
    if isinstance(target, (str, bytes, os.PathLike)):
        path = os.fspath(target)
        if isinstance(path, bytes):
            path = os.fsdecode(path)
        # Absolute at once: a lazy read after os.chdir, or a copy unpickled
        # in another directory, finds the same file.
        return os.path.abspath(path)
    if is_file_object(target):
        return Source(target)
    raise TypeError("a Tidewell dataset is opened on a path, an fsspec URL or OpenFile, or a binary "
                    "file object (with seek, and read or readinto), not %r" % type(target).__name__)


def name_of(target):
    """How messages name a path, an OpenFile or a file object."""
    if isinstance(target, str):
        return target
    if _is_openfile(target):
        path = target.path
        return path if "://" in path else "%s://%s" % (_protocols(target)[0], path)
    name = getattr(target, "name", None)
    if isinstance(name, (str, bytes)) and name:
        return os.fsdecode(name)
    return "<%s>" % type(target).__name__


class Source:
    """A dataset's bytes behind a Python file object, as the library's pool
    reads them.  An OpenFile is opened here and closed when the pool lets
    the dataset go; a caller's file object is left as it is."""

    def __init__(self, target):
        self.target = target
        self.name = name_of(target)
        self._owned = _is_openfile(target)
        self._file = None
        self._lock = None
        self._number = None
        self.failure = None     # what a callback met: the cause of the error raised

    def reduce_target(self):
        """What a pickled dataset carries to open again: the OpenFile."""
        if not self._owned:
            raise TypeError("%s: a Tidewell dataset opened on a file object cannot be pickled; "
                            "open it on a path, an fsspec URL or an fsspec OpenFile to use it in "
                            "another process" % self.name)
        return self.target

    def pool_open(self):
        """Opens the library's pool handle of the dataset on this source:
        (status, handle).  Status 3 when the file cannot be opened (the
        cause in ``failure``)."""
        self.failure = None
        try:
            self._file = self.target.open() if self._owned else self.target
            self._lock = _lock_of(self._file)
        except Exception as e:
            self.failure = e
            return 3, -1
        with _live_lock:
            self._number = next(_numbers)
            _live[self._number] = self
        handle = ctypes.c_int(-1)
        status = _library.library().td_pool_open_callbacks(
            ctypes.c_void_p(self._number), _read, _size, _close, ctypes.byref(handle))
        if status != 0:
            self._let_go()
        return status, handle.value

    def _let_go(self):
        """The pool is done with the source (or never took it)."""
        with _live_lock:
            _live.pop(self._number, None)
        f, self._file = self._file, None
        if self._owned and f is not None:
            f.close()

    # The callbacks' work; the library never calls them for one dataset from
    # two threads at once.

    def read_into(self, offset, address, length):
        with self._lock:
            return self._read_into(self._file, offset, address, length)

    def _read_into(self, f, offset, address, length):
        f.seek(offset)
        readinto = getattr(f, "readinto", None)
        if readinto is not None:
            n = readinto(memoryview((ctypes.c_char * length).from_address(address)).cast("B"))
            if n is None:       # a non-blocking stream with nothing to give now
                raise BlockingIOError("%s: no data available" % self.name)
            return n
        data = f.read(length)
        if len(data) > length:
            raise OSError("%s: read gave %d bytes for %d" % (self.name, len(data), length))
        ctypes.memmove(address, data, len(data))
        return len(data)

    def size(self):
        f = self._file
        size = getattr(f, "size", None)     # fsspec's files know it
        if isinstance(size, int):
            return size
        # Every read seeks first, so the position need not be kept.
        with self._lock:
            end = f.seek(0, os.SEEK_END)
            return end if isinstance(end, int) else f.tell()


# Whether this thread is inside a callback of the library.
_inside = threading.local()


def in_callback():
    return getattr(_inside, "depth", 0) > 0


def _source(number):
    with _live_lock:
        return _live.get(number)


def _guard(number, work):
    """Runs a callback's work: an exception is kept as the cause of the
    error raised after the library call, and the library sees a failed
    read."""
    source = _source(number)
    if source is None:
        return -1
    _inside.depth = getattr(_inside, "depth", 0) + 1
    try:
        return work(source)
    except BaseException as e:  # nothing may cross into the C library
        if source.failure is None:
            source.failure = e
        return -1
    finally:
        _inside.depth -= 1


@_library.READ_FUNC
def _read(number, offset, address, length):
    return _guard(number, lambda s: s.read_into(offset, address, length))


@_library.SIZE_FUNC
def _size(number):
    return _guard(number, lambda s: s.size())


@_library.CLOSE_FUNC
def _close(number):
    source = _source(number)
    if source is not None:
        try:
            source._let_go()
        except Exception:       # a close that fails loses nothing of a read-only file
            pass


_BY_CAUSE = ((FileNotFoundError, TidewellFileNotFoundError),
             (PermissionError, TidewellPermissionError),
             (IsADirectoryError, TidewellIsADirectoryError))


def with_cause(error, source):
    """The error (a TidewellError) of a failed call, with what the source
    met as its cause and in its message; a missing file (an HTTP 404) is a
    TidewellFileNotFoundError, as for a path.  An interrupt (Ctrl-C) met in
    a callback is given back as itself."""
    cause, source.failure = source.failure, None
    if cause is None:
        return error
    if not isinstance(cause, Exception):
        return cause
    cls = next((c for kind, c in _BY_CAUSE if isinstance(cause, kind)), type(error))
    message = "%s (%s: %s)" % (error.strerror, type(cause).__name__, cause)
    result = cls(error.status, message, error.filename, error.item, getattr(cause, "errno", None))
    result.__cause__ = cause
    return result
