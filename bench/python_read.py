#!/usr/bin/python3
"""Reading a whole data variable from Python against the same read from C.

    python_read.py --build BUILD_DIR [--reps N] [--size N]

For a plain and a compressed infrared dataset of SIZE x SIZE samples (made
by the benchmark's own generator, kept in BUILD_DIR/bench-data/), it times,
interleaved REPS times, each one open, whole read and close of the data
variable:

- C, into an array: td_varget_float row by row into a rows x columns array
  (the same result a Python read gives: the whole variable in memory);
- C, one row buffer: the same reads into one reused row (what tdftogif does);
- tidewell: ``tidewell.open(path).read()`` (missing samples as stored);
- tidewell, NaN: ``read(missing="nan")``;
- xarray: ``xr.open_dataset(path, engine="tidewell")[var].load()`` (decoded:
  missing samples as NaN);

and prints the medians and their ratios to both C reads.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--reps", type=int, default=7)
    parser.add_argument("--size", type=int, default=4096)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    sys.path.insert(0, os.path.join(build, "python"))
    import numpy as np
    import tidewell
    import xarray as xr

    work = os.path.join(build, "bench-data")
    os.makedirs(work, exist_ok=True)
    read_rows = os.path.join(build, "python", "read_rows")
    make = os.path.join(build, "bench", "tdbench_make_dataset")

    rows = []
    for form in ("plain", "compressed"):
        path = os.path.join(work, "python-ir-%dx%d-%s.tdf" % (args.size, args.size, form))
        if not os.path.exists(path):
            print("python_read: making %s" % os.path.basename(path), file=sys.stderr)
            subprocess.run([make, path + ".part", str(args.size), str(args.size), form],
                           check=True)
            os.rename(path + ".part", path)
        with tidewell.open(path) as ds:
            variable = ds.data_variable
            reference = ds.read()

        def c_read():
            out = subprocess.run([read_rows, "--time", "1", path], check=True,
                                 capture_output=True, text=True).stdout.split()
            return float(out[1]), float(out[3])

        # Each read checks its result and lets it go before the next one
        # allocates, so that every read starts from the same memory.
        def tidewell_read(missing):
            t0 = time.perf_counter()
            with tidewell.open(path) as ds:
                data = ds.read(missing=missing)
            seconds = time.perf_counter() - t0
            assert np.array_equal(data, reference if missing == "stored" else decoded,
                                  equal_nan=True)
            return seconds

        def xarray_read():
            t0 = time.perf_counter()
            with xr.open_dataset(path, engine="tidewell") as x:
                data = x[variable].load().values
            seconds = time.perf_counter() - t0
            assert np.array_equal(data, decoded, equal_nan=True)
            return seconds

        decoded = np.where(reference == -999.0, np.float32(np.nan), reference)
        times = {key: [] for key in ("c_array", "c_row", "tidewell", "nan", "xarray")}
        for _ in range(args.reps + 1):            # the first round warms up
            array_s, row_s = c_read()
            measured = (array_s, row_s, tidewell_read("stored"), tidewell_read("nan"),
                        xarray_read())
            for key, value in zip(times, measured):
                times[key].append(value)
        medians = {key: statistics.median(values[1:]) for key, values in times.items()}
        rows.append((form, medians))

    print()
    print("Python reads of a whole %d x %d data variable: median seconds of %d; ratios to C "
          "row by row into an array / into one row buffer (goal: at most 1.2x)"
          % (args.size, args.size, args.reps))
    print()
    print("| form | C into array s | C one row s | tidewell s | ratio | tidewell NaN s | ratio "
          "| xarray .load() s | ratio |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    for form, m in rows:
        def ratio(key):
            return "%.2fx / %.2fx" % (m[key] / m["c_array"], m[key] / m["c_row"])
        print("| %s | %.4f | %.4f | %.4f | %s | %.4f | %s | %.4f | %s |" % (
            form, m["c_array"], m["c_row"], m["tidewell"], ratio("tidewell"), m["nan"],
            ratio("nan"), m["xarray"], ratio("xarray")))


if __name__ == "__main__":
    main()
