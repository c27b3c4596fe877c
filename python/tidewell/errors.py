"""The exceptions of the package: every failed library call is a TidewellError."""

import errno as _errno
import os
import stat

__all__ = [
    "TidewellError",
    "TidewellFileNotFoundError",
    "TidewellPermissionError",
    "TidewellIsADirectoryError",
]


class TidewellError(OSError):
    """A call of the Tidewell library failed.

    ``status`` is the library's status code (1 to 51), ``strerror`` its
    message as ``td_strerror`` gives it, ``filename`` the dataset's path and
    ``item`` what was being read when it failed (a dimension, a variable or
    an attribute name), or None.  ``errno`` is the system's error number
    where one is known (a missing file), else None.
    """

    def __init__(self, status, message, filename=None, item=None, errno=None):
        super().__init__(errno, message, filename)
        self.status = status
        self.item = item

    def __str__(self):
        parts = [p for p in (self.filename, self.item) if p is not None]
        parts.append(self.strerror)
        return ": ".join(str(p) for p in parts)

    def __repr__(self):
        return "%s(%r, %r, %r, %r)" % (type(self).__name__, self.status, self.strerror,
                                       self.filename, self.item)

    def __reduce__(self):
        return (type(self), (self.status, self.strerror, self.filename, self.item, self.errno))


class TidewellFileNotFoundError(TidewellError, FileNotFoundError):
    """The dataset does not exist (status 3, "cannot access dataset")."""


class TidewellPermissionError(TidewellError, PermissionError):
    """The dataset may not be read (status 3, "cannot access dataset")."""


class TidewellIsADirectoryError(TidewellError, IsADirectoryError):
    """The path names a directory (status 3, "cannot access dataset")."""


_BY_ERRNO = {
    _errno.ENOENT: TidewellFileNotFoundError,
    _errno.ENOTDIR: TidewellFileNotFoundError,
    _errno.EACCES: TidewellPermissionError,
    _errno.EPERM: TidewellPermissionError,
    _errno.EISDIR: TidewellIsADirectoryError,
}

# Statuses of td_open that a system error may lie behind.
_OPEN_STATUSES = (3, 27)


def make_error(status, message, filename=None, item=None):
    """The exception for a failed call; a failed open of a path that is
    missing, unreadable or a directory also becomes the matching built-in
    OSError subclass, with its errno."""
    if filename is None or item is not None or status not in _OPEN_STATUSES:
        return TidewellError(status, message, filename, item)
    number = None
    try:
        mode = os.stat(filename).st_mode
    except OSError as e:
        number = e.errno
    else:
        if stat.S_ISDIR(mode):
            number = _errno.EISDIR
        elif stat.S_ISREG(mode):
            # Never blocks, and a FIFO or device is not opened at all.
            try:
                os.close(os.open(filename, os.O_RDONLY | os.O_NONBLOCK))
            except OSError as e:
                number = e.errno
    cls = _BY_ERRNO.get(number, TidewellError)
    return cls(status, message, filename, None, number)
