"""pip installs the package offline into a fresh virtual environment, where
it finds the library through TIDEWELL_LIBRARY or the system loader and
xarray finds the backend through its entry point."""

import os
import shutil
import subprocess
import sys

import numpy as np

from support import tool, write_dataset

CHECK = """
import importlib.metadata, sys
import numpy as np, xarray as xr
import tidewell
assert tidewell.__file__.startswith(sys.prefix), tidewell.__file__
names = [e.name for e in importlib.metadata.entry_points(group="xarray.backends")]
assert names.count("tidewell") == 1, names
for x in (xr.open_dataset(sys.argv[1], engine="tidewell"), xr.open_dataset(sys.argv[1])):
    with x:
        print(x["avhrr_ch4"].attrs["units"], int(np.isnan(x["avhrr_ch4"].values).sum()),
              float(np.nansum(x["avhrr_ch4"].values)))
print(tidewell.library_path())
"""


def test_pip_install_into_venv(tmp_path):
    source = tmp_path / "source"
    shutil.copytree(tool("PACKAGE_SOURCE"), source,
                    ignore=shutil.ignore_patterns("__pycache__", "tests", "*.egg-info", "build"))
    venv = tmp_path / "venv"
    # Debian's pip, seen through the system site packages, installs into the
    # environment it runs in; bootstrapping a pip of its own would only cost time.
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", "--without-pip",
                    str(venv)], check=True)
    python = str(venv / "bin" / "python")
    env = {k: v for k, v in os.environ.items()
           if k not in ("PYTHONPATH", "TIDEWELL_LIBRARY", "LD_LIBRARY_PATH")}
    env.update(PIP_DISABLE_PIP_VERSION_CHECK="1", PIP_NO_CACHE_DIR="1")
    subprocess.run([python, "-m", "pip", "install", "-q", "--no-build-isolation", "--no-index",
                    str(source)], check=True, env=env)

    values = np.arange(4 * 70).reshape(4, 70) % 1000
    path = write_dataset(tmp_path / "d.tdf", values=values)
    library = tool("LIBRARY")
    runs = {
        "TIDEWELL_LIBRARY": dict(env, TIDEWELL_LIBRARY=library),
        "system loader": dict(env, LD_LIBRARY_PATH=os.path.dirname(library)),
    }
    outputs = {}
    for name, run_env in runs.items():
        result = subprocess.run([python, "-c", CHECK, path], env=run_env, capture_output=True,
                                text=True, cwd=tmp_path)
        assert result.returncode == 0, (name, result.stderr)
        outputs[name] = result.stdout.splitlines()
    # Values 0 are missing; the same data through both engines and loaders.
    first = outputs["TIDEWELL_LIBRARY"]
    assert first[0] == first[1] and first[0].startswith("\N{DEGREE SIGN}C 1 ")
    assert first[2] == library
    assert outputs["system loader"][:2] == first[:2]
    assert outputs["system loader"][2] == "libtidewell.so.1"
