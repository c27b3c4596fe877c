"""Every shell example of the manual pages (docs/*.1) and of python/README.md
runs as written, in a folder holding the files it names (datasets of the
project's writer, a zip of one, a damaged one), and does what its text says.
Absolute paths and the web server of an example stand for folders of that
folder and the tests' range server.  An example without a check here fails.

Needs TDFTOGIF, TDFINFO, TDFBATCH, TDWRITE and SOURCE (the checkout) in the
environment, and GDAL_DRIVER_PATH for the GDAL examples; run through ctest.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import zipfile

import numpy as np
import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
from range_server import RangeServer  # noqa: E402

SOURCE = os.environ.get("SOURCE", os.path.join(os.path.dirname(__file__), ".."))
PAGES = ["docs/tdftogif.1", "docs/tdfinfo.1", "docs/tdfbatch.1", "python/README.md", "docs/python.md"]
# Blocks of a manual page that show output, not commands.
SHOWN = re.compile(r"^(tdftogif|tdfinfo|tdfbatch): |^\{")
ROFF = [("\\-", "-"), ("\\e", "\\"), ("\\[aq]", "'"), ("\\[de]", "\N{DEGREE SIGN}"), ("\\|", "")]


def examples(page):
    """The shell examples of a page: .EX ... .EE of a manual page, fenced
    sh blocks of Markdown."""
    text = open(os.path.join(SOURCE, page), encoding="utf-8").read()
    if page.endswith(".md"):
        return [b.rstrip("\n") for b in re.findall(r"^```sh\n(.*?)^```", text, re.S | re.M)]
    found = []
    for block in re.findall(r"^\.EX\n(.*?)^\.EE", text, re.S | re.M):
        for roff, plain in ROFF:
            block = block.replace(roff, plain)
        if not SHOWN.match(block):
            found.append(block.rstrip("\n"))
    return found


def write(path, kind="infrared", rows=60, columns=80, compressed=False, truncate=None, fields=()):
    rng = np.random.default_rng(len(str(path)))
    values, nibbles = str(path) + ".values", str(path) + ".nibbles"
    rng.integers(1, 2000, size=(rows, columns), dtype=np.int32).tofile(values)
    rng.integers(0, 16, size=(rows, columns), dtype=np.uint8).tofile(nibbles)
    subprocess.run([os.environ["TDWRITE"], str(path), "--kind", kind, "--rows", str(rows),
                    "--columns", str(columns), "--values", values, "--nibbles", nibbles]
                   + (["--compressed"] if compressed else [])
                   + (["--truncate", str(truncate)] if truncate else []) + list(fields), check=True)
    os.remove(values)
    os.remove(nibbles)


def gif_size(path):
    data = open(path, "rb").read(10)
    assert data[:6] in (b"GIF87a", b"GIF89a"), "%s is no GIF" % path
    return int.from_bytes(data[6:8], "little"), int.from_bytes(data[8:10], "little")


@pytest.fixture
def place(tmp_path, monkeypatch):
    """The files the examples name, the commands on PATH, a HOME for GNU
    parallel; each page's examples run in a folder of their own."""
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    for name in ("TDFTOGIF", "TDFINFO", "TDFBATCH"):
        os.symlink(os.environ[name], bin_dir / name.lower())
    # python3 is Debian's, as on a fresh machine, whatever else is on PATH.
    os.symlink(sys.executable, bin_dir / "python3")
    (tmp_path / "home" / ".parallel").mkdir(parents=True)
    (tmp_path / "home" / ".parallel" / "will-cite").touch()
    work = tmp_path / "work"
    work.mkdir()
    # Sea-surface temperature: the variable mcsst the examples name.
    write(work / "sst.tdf", rows=300, columns=1100, compressed=True, fields=["channel_number=6"])
    write(work / "vis.tdf", kind="visible")
    with zipfile.ZipFile(work / "scenes.zip", "w") as z:
        z.write(work / "sst.tdf", "sst.tdf")
    for folder in ("data", "archive/passes"):
        (work / folder / "sub").mkdir(parents=True)
        write(work / folder / "a.tdf")
        write(work / folder / "b.tdf", compressed=True)
        write(work / folder / "sub" / "c.tdf", kind="visible")
        write(work / folder / "bad.tdf", truncate=3000)
    (work / "nodes.txt").write_text(":\n")
    (work / "log").mkdir()
    shutil.copytree(os.path.join(SOURCE, "python"), work / "python",
                    ignore=shutil.ignore_patterns("__pycache__", "tests", "*.egg-info", "build"))
    monkeypatch.chdir(work)
    monkeypatch.setenv("PATH", "%s:%s" % (bin_dir, os.environ["PATH"]))
    monkeypatch.setenv("HOME", str(tmp_path / "home"))
    return work


def run(example, server=None):
    """The example as a script of bash (a shown command after "$ " without
    its output); the absolute paths of the examples under the folder."""
    lines = example.split("\n")
    if lines[0].startswith("$ "):
        lines = [lines[0][2:]]
    script = "\n".join(lines)
    for absolute, local in (("/var/log/", "log/"), ("/archive/", "archive/"), ("/srv/www/", "www/")):
        script = script.replace(absolute, local)
    if server:
        script = script.replace("https://example.org/", server.url("files", ""))
    return subprocess.run(["bash", "-c", script], capture_output=True, text=True, timeout=600)


def direct(dataset, gif):
    subprocess.run(["tdftogif", "-o", gif, dataset], check=True, capture_output=True)
    return open(gif, "rb").read()


# What each example must leave, by the start of its first line: a check of
# (the finished run, the folder).
def converted(*gifs):
    def check(result, work):
        assert result.returncode == 0, result.stderr
        for gif in gifs:
            gif_size(work / gif)
    return check


def reduced(result, work):
    assert result.returncode == 0, result.stderr
    direct("sst.tdf", "full.gif")
    full, quick = gif_size(work / "full.gif"), gif_size(work / "quick.gif")
    assert quick[0] < full[0] and quick[1] < full[1], (quick, full)


def every_dataset(result, work):
    # xargs: 123 when a conversion failed, here the damaged dataset's.
    assert result.returncode == 123, result.stderr
    for name in ("a", "b", "sub/c"):
        assert open(work / "data" / (name + ".gif"), "rb").read() == direct("data/%s.tdf" % name, "x.gif")
    assert not (work / "data" / "bad.gif").exists()
    assert not list(work.glob("data/**/*.tdf.gif"))


def png(result, work):
    assert result.returncode == 0, result.stderr
    assert open(work / "sst.png", "rb").read(4) == b"\x89PNG"


def geotiff(result, work):
    assert result.returncode == 0, result.stderr
    assert open(work / "sst.tif", "rb").read(4) == b"II*\0"


def gdal_described(result, work):
    # The zip member and the same file from the web server, alike.
    assert result.returncode == 0, result.stderr
    first, second = result.stdout.split("Driver: ")[1:]
    assert "satellite_id=" in first and first.split("Files:")[0] == second.split("Files:")[0]


def copied_out(result, work):
    assert result.returncode == 0, result.stderr
    assert open(work / "sst.gif", "rb").read() == direct("sst.tdf", "x.gif")


def described(result, work):
    assert result.returncode == 0, result.stderr
    shown = [line.split()[0] for line in EXAMPLE_TEXT["$ tdfinfo sst.tdf"].split("\n")[1:]
             if line.strip() not in ("", "...")]
    labels = [line.split()[0] for line in result.stdout.split("\n") if line.strip()]
    assert result.stdout.startswith("dataset     sst.tdf\n")
    positions = [labels.index(label) for label in shown]
    assert positions == sorted(positions), (shown, labels)


def satellites(result, work):
    assert result.returncode == 0, result.stderr
    rows = [line.split("\t") for line in result.stdout.split("\n") if line]
    assert [r[0] for r in rows] == ["sst.tdf", "vis.tdf"] and all(r[1] for r in rows), rows


def compressed(result, work):
    assert result.returncode == 0, result.stderr
    assert result.stdout == "sst.tdf\n"


def nightly(result, work):
    # A damaged dataset fails the run (1); the others are on the page.
    assert result.returncode == 1, result.stderr
    for name in ("a", "b", "sub/c"):
        gif_size(work / "www" / "quicklooks" / (name + ".gif"))
    assert "bad.tdf" in (work / "www" / "quicklooks" / "index.html").read_text()
    reports = [json.loads(line) for line in open(work / "log" / "tdfbatch.json")]
    assert sorted(r["status"] for r in reports) == ["converted"] * 3 + ["failed"]


def failed(result, work):
    assert result.returncode == 0, result.stderr
    lines = result.stdout.strip("\n").split("\n")
    assert len(lines) == 1 and "bad.tdf" in lines[0].split("\t")[0] and lines[0].split("\t")[1], lines


def shards(result, work):
    assert result.returncode == 0, result.stderr
    for name in ("a", "b", "sub/c"):
        assert open(work / "quicklooks" / (name + ".gif"), "rb").read() == direct("data/%s.tdf" % name, "x.gif")
    page = (work / "quicklooks" / "index.html").read_text()
    assert all(name in page for name in ("a.tdf", "b.tdf", "c.tdf", "bad.tdf"))


def installed(result, work):
    assert result.returncode == 0, result.stderr
    where = subprocess.run(["env/bin/python", "-c", "import tidewell; print(tidewell.__file__)"],
                           capture_output=True, text=True, env={k: v for k, v in os.environ.items()
                                                                if k != "PYTHONPATH"})
    assert where.returncode == 0, where.stderr
    assert where.stdout.startswith(str(work / "env")), where.stdout


CHECKS = {
    "tdftogif -o sst.gif sst.tdf": converted("sst.gif"),
    "tdftogif -l 10 -h 24": converted("front.gif"),
    "tdftogif -m prism -c 64": converted("vis.gif"),
    "tdftogif --fit 1024": reduced,
    "find data -name": every_dataset,
    "gdal_translate -of PNG": png,
    "gdal_translate TIDEWELL:": geotiff,
    "unzip -p scenes.zip": copied_out,
    "$ tdfinfo sst.tdf": described,
    "tdfinfo -j *.tdf |\n  jq -r '[.dataset, .attributes.satellite_id]": satellites,
    "tdfinfo -j *.tdf |\n  jq -r 'select(.storage": compressed,
    "tdfbatch -q --index --report": nightly,
    "jq -r 'select(.status == \"failed\")": failed,
    "parallel -j 1 --sshloginfile": shards,
    "python3 -m venv --system-site-packages": installed,
    "gdalinfo -mdd TIDEWELL": gdal_described,
}
GDAL_EXAMPLES = {"gdal_translate -of PNG", "gdal_translate TIDEWELL:", "gdalinfo -mdd TIDEWELL"}
EXAMPLE_TEXT = {}


def check_of(example):
    keys = [key for key in CHECKS if example.startswith(key)]
    return keys[0] if len(keys) == 1 else None


def test_every_example_has_its_check():
    found = [check_of(e) for page in PAGES for e in examples(page)]
    assert None not in found, [e for page in PAGES for e in examples(page) if not check_of(e)]
    assert set(found) == set(CHECKS), "checks without their example: %s" % (set(CHECKS) - set(found))


def first_page(example):
    return next(page for page in PAGES if example in examples(page))


@pytest.mark.parametrize("page", PAGES)
def test_examples_run_as_written(page, place):
    """A page's examples in order, as a reader runs them one after another;
    an example that an earlier page also shows runs there only."""
    with RangeServer(place) as server:
        for example in examples(page):
            if first_page(example) != page:
                continue
            key = check_of(example)
            EXAMPLE_TEXT[key] = example
            if key in GDAL_EXAMPLES and not os.environ.get("GDAL_DRIVER_PATH"):
                continue  # without the plugin
            result = run(example, server)
            CHECKS[key](result, place)
