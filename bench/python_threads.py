#!/usr/bin/python3
"""xarray's open_mfdataset over many datasets, loaded by one dask thread
against two.

    python_threads.py --build BUILD_DIR [--reps N] [--count N] [--size N]

COUNT infrared datasets of SIZE x SIZE samples (made by the benchmark's own
generator, plain and compressed in turn, kept in BUILD_DIR/bench-data/) are
opened with ``xr.open_mfdataset(..., parallel=True)`` and loaded whole with
dask's threaded scheduler, with 1 and with 2 worker threads in turn, REPS
times; prints the median seconds and their ratio.  The library runs reads of
different datasets at the same time, so on two cores two threads should take
about half the time of one (goal: at most 0.65).
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
    parser.add_argument("--count", type=int, default=20)
    parser.add_argument("--size", type=int, default=2048)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    sys.path.insert(0, os.path.join(build, "python"))
    import dask
    import numpy as np
    import xarray as xr

    work = os.path.join(build, "bench-data")
    os.makedirs(work, exist_ok=True)
    make = os.path.join(build, "bench", "tdbench_make_dataset")
    paths = []
    for n in range(args.count):
        form = ("plain", "compressed")[n % 2]
        path = os.path.join(work, "mf-%d-%dx%d-%s.tdf" % (n, args.size, args.size, form))
        if not os.path.exists(path):
            print("python_threads: making %s" % os.path.basename(path), file=sys.stderr)
            subprocess.run([make, path + ".part", str(args.size), str(args.size), form], check=True)
            os.rename(path + ".part", path)
        paths.append(path)

    def load(threads):
        with dask.config.set(scheduler="threads", num_workers=threads):
            t0 = time.perf_counter()
            with xr.open_mfdataset(paths, engine="tidewell", combine="nested", concat_dim="scene",
                                   parallel=True, chunks={}) as x:
                data = x["avhrr_ch4"].values
            seconds = time.perf_counter() - t0
        return seconds, data

    _, reference = load(2)          # also warms the page cache
    times = {1: [], 2: []}
    for _ in range(args.reps):
        for threads in (1, 2):
            seconds, data = load(threads)
            assert np.array_equal(data, reference, equal_nan=True)
            times[threads].append(seconds)
            del data
    one, two = statistics.median(times[1]), statistics.median(times[2])
    print()
    print("xarray open_mfdataset(parallel=True) and load of %d datasets of %d x %d (plain and"
          % (args.count, args.size, args.size))
    print("compressed in turn), dask threads; median of %d runs" % args.reps)
    print()
    print("| dask threads | seconds | ratio to 1 thread | goal |")
    print("|---:|---:|---:|---:|")
    print("| 1 | %.3f | 1.000 | |" % one)
    print("| 2 | %.3f | %.3f | <= 0.65 |" % (two, two / one))
    print()
    print("- 2 threads / 1 thread %.3f (goal <= 0.65): %s"
          % (two / one, "met" if two / one <= 0.65 else "NOT MET"))


main()
