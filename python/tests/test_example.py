"""The example of docs/python.md runs: open, select a region, plot (needs matplotlib,
which the tests themselves do not)."""

import os
import subprocess
import sys

import pytest

from support import tool


def test_plot_region(tmp_path):
    pytest.importorskip("matplotlib")
    dataset = str(tmp_path / "sst.tdf")
    subprocess.run([tool("MAKE_SAMPLE"), dataset], check=True)
    output = tmp_path / "region.png"
    script = os.path.join(tool("PACKAGE_SOURCE"), "examples", "plot_region.py")
    subprocess.run([sys.executable, script, dataset, str(output)], check=True)
    assert output.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
