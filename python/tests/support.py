"""Helpers shared by the package's tests.

Every dataset is written by the project's own writer (tdwrite, from a
description); reference arrays come from the library itself, read row by row
from C (read_rows); tdfinfo gives the reference description.  ctest passes
their paths in the environment and puts the staged package on PYTHONPATH.
"""

import json
import os
import subprocess

import numpy as np
import pytest


def tool(name):
    path = os.environ.get("TIDEWELL_TEST_" + name)
    if not path:
        pytest.fail("TIDEWELL_TEST_%s is not set: run these tests through ctest" % name)
    return path


def write_dataset(path, kind="infrared", rows=4, columns=70, compressed=False, values=None,
                  nibbles=None, truncate=None, header=None, **fields):
    """Writes a dataset with tdwrite; `values` and `nibbles` are arrays of
    rows x columns; `fields` set header fields by name, and so does
    `header`, a dict, for the fields named like arguments ("rows")."""
    fields.update(header or {})
    path = str(path)
    args = [tool("TDWRITE"), path, "--kind", str(kind), "--rows", str(rows),
            "--columns", str(columns)]
    if compressed:
        args.append("--compressed")
    for option, array, dtype in (("--values", values, "=i4"), ("--nibbles", nibbles, "u1")):
        if array is not None:
            table = path + option.replace("--", ".")
            np.asarray(array).astype(dtype).reshape(rows, columns).tofile(table)
            args += [option, table]
    if truncate is not None:
        args += ["--truncate", str(truncate)]
    args += ["%s=%d" % (name, value) for name, value in fields.items()]
    subprocess.run(args, check=True)
    return path


def reference(path, variable):
    """The whole variable as the library reads it from C, row by row."""
    out = str(path) + "." + variable + ".ref"
    subprocess.run([tool("READ_ROWS"), str(path), variable, out], check=True)
    info = tdfinfo(path)
    dtype = np.uint8 if variable == "graphics" else np.float32
    shape = (info["dimensions"]["rows"], info["dimensions"]["columns"])
    return np.fromfile(out, dtype=dtype).reshape(shape)


def tdfinfo(path):
    """tdfinfo -j's description of a dataset."""
    result = subprocess.run([tool("TDFINFO"), "-j", str(path)], check=True,
                            capture_output=True)
    return json.loads(result.stdout)


def same_bits(a, b):
    """Equal shapes, dtypes and bytes (NaN and -0.0 included)."""
    a, b = np.asarray(a), np.asarray(b)
    return a.shape == b.shape and a.dtype == b.dtype and a.tobytes() == b.tobytes()
