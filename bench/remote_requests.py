"""The requests of remote reads (part of make bench): a 4096 x 4096
infrared dataset, plain and compressed, served over HTTP by the tests'
range server on 127.0.0.1 and read through GDAL's /vsicurl/ with
gdal_translate, whole and as one 512 x 512 window in the middle, and
through the Python package (fsspec over HTTP), whole and the same window.
Counts the requests and the body bytes the server sent for the dataset
(GET with a range, and HEAD) and, apart, the other requests of the run
(GDAL's look for side files such as .aux.xml).  The values are checked
against the local reads.

    remote_requests.py --build BUILD_DIR
"""
import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
from range_server import RangeServer  # noqa: E402

SIZE = 4096
WINDOW = (1792, 1792, 512, 512)   # column, row, width, height
LIMIT = 600


def counts(server, name):
    mine = [r for r in server.requests() if r["path"] == "/files/" + name]
    others = [r for r in server.requests() if r["path"] != "/files/" + name]
    return len(mine), sum(r["bytes"] for r in mine), len(others)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    work = os.path.join(build, "bench-data", "remote")
    os.makedirs(work, exist_ok=True)
    plugins = os.path.join(build, "gdalplugins")
    have_gdal = os.path.exists(os.path.join(plugins, "gdal_Tidewell.so"))
    sys.path.insert(0, os.path.join(build, "python"))
    os.environ["GDAL_DRIVER_PATH"] = plugins   # before GDAL is loaded here
    env = dict(os.environ, GDAL_HTTP_TIMEOUT="60")

    print()
    print("Remote reads of a %d x %d infrared dataset over HTTP (the tests' range server on 127.0.0.1):" % (SIZE, SIZE))
    print("requests and body bytes for the dataset; in brackets, other requests of the run (side files)")
    print()
    print("| reader | form | file bytes | read | requests | bytes fetched | fetched / needed |")
    print("|---|---|---:|---|---:|---:|---:|")
    for storage in ("plain", "compressed"):
        name = "ir-%d-%s.tdf" % (SIZE, storage)
        path = os.path.join(work, name)
        if not os.path.exists(path):
            subprocess.run([os.path.join(build, "bench", "tdbench_make_dataset"), path, str(SIZE), str(SIZE),
                            storage], check=True)
        size = os.path.getsize(path)
        # What a read must have at least: the rows it covers (the whole
        # stream, once, for the row index of compressed data).
        window_needed = size if storage == "compressed" else (WINDOW[3] * SIZE * 2 + SIZE * 2)
        with RangeServer(work, os.path.join(work, "requests.log")) as server, \
                tempfile.TemporaryDirectory() as scratch:
            url = server.url("files", name)
            local = None
            if have_gdal:
                from osgeo import gdal
                gdal.UseExceptions()
                local = gdal.Open('TIDEWELL:"%s":avhrr_ch4' % path).ReadAsArray()
                for label, extra, needed in (("whole", [], size),
                                             ("512 x 512", ["-srcwin"] + [str(v) for v in WINDOW], window_needed)):
                    server.forget()
                    out = os.path.join(scratch, "out.tif")
                    subprocess.run(["gdal_translate", "-q", "-of", "GTiff"] + extra +
                                   ['TIDEWELL:"/vsicurl/%s":avhrr_ch4' % url, out], check=True, env=env,
                                   timeout=LIMIT)
                    got = gdal.Open(out).ReadAsArray()
                    c, r, w, h = WINDOW
                    expected = local if not extra else local[r:r + h, c:c + w]
                    assert np.array_equal(got, expected), "GDAL read other values over HTTP"
                    n, fetched, others = counts(server, name)
                    print("| GDAL /vsicurl/ | %s | %d | %s | %d (+%d) | %d | %.2f |"
                          % (storage, size, label, n, others, fetched, fetched / needed))
            import tidewell
            for label, rows, columns, needed in (
                    ("whole", None, None, size),
                    ("512 x 512", slice(WINDOW[1], WINDOW[1] + WINDOW[3]), slice(WINDOW[0], WINDOW[0] + WINDOW[2]),
                     window_needed)):
                server.forget()
                with tidewell.open(url) as remote:
                    got = remote.read(rows=rows, columns=columns)
                if local is not None:
                    expected = local if rows is None else local[rows, columns]
                    assert np.array_equal(got, expected), "Python read other values over HTTP"
                n, fetched, others = counts(server, name)
                print("| Python (fsspec) | %s | %d | %s | %d (+%d) | %d | %.2f |"
                      % (storage, size, label, n, others, fetched, fetched / needed))


if __name__ == "__main__":
    main()
