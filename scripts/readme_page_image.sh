#!/bin/sh
# Draws the picture of docs/batch.md's "Nightly runs" section,
# docs/images/browse-page.png: a small archive of synthetic passes of three
# satellites (written by the project's own writer through
# tools/writer/tdwrite, one of them cut short), converted by tdfbatch
# --index and photographed in headless Chromium.
# Usage: scripts/readme_page_image.sh [BUILD_DIR]     (default: build)
set -eu

build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
for tool in "$build/tools/writer/tdwrite" "$build/batch/tdfbatch" "$build/converter/tdftogif"; do
    [ -x "$tool" ] || { echo "readme_page_image: $tool is not built (make test builds it)" >&2; exit 1; }
done
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tdf-page-image.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

/usr/bin/python3 - "$build/tools/writer/tdwrite" "$scratch/archive" <<'PYTHON'
import os, subprocess, sys
import numpy as np

tdwrite, archive = sys.argv[1:3]
rng = np.random.default_rng(19)
satellites = {"hesk-14": 0xD5D1, "hesk-15": 0xD5D2, "hesk-16": 0xD5D3}
rows, columns = 360, 480
y, x = np.mgrid[0:rows, 0:columns] / np.array([rows, columns])[:, None, None]
for n in range(14):
    satellite = list(satellites)[n % 3]
    day, minute = 173 + n // 5, 1342 + 117 * n
    # Sea surface temperature in degrees C: a meandering front, eddies,
    # texture; land (missing samples) in the west.
    phase = rng.uniform(0, 2 * np.pi, 4)
    front = 0.45 + 0.12 * np.sin(6 * x + phase[0]) + 0.05 * np.sin(17 * x + phase[1])
    t = 11 + 13 * (y > front) + 5 * y + 2.5 * np.sin(9 * x + 7 * y + phase[2]) * np.cos(5 * y + phase[3])
    t += rng.normal(0, 0.35, t.shape)
    for _ in range(3):
        cx, cy, r = rng.uniform(0.2, 0.9), rng.uniform(0.1, 0.9), rng.uniform(0.05, 0.12)
        t += rng.choice([-4, 4]) * np.exp(-((x - cx) ** 2 + (y - cy) ** 2) / r ** 2)
    land = x < 0.12 + 0.08 * np.sin(11 * y + phase[0]) + rng.uniform(0, 0.08)
    values = np.clip(np.rint(921 + (t + 3.15) / 0.05), 921, 1721).astype(np.int32)
    values[land] = 0
    coast = land & ~np.roll(land, 1, axis=1)
    nibbles = coast.astype(np.uint8)
    folder = os.path.join(archive, satellite, "2024", "%03d" % day)
    os.makedirs(folder, exist_ok=True)
    base = os.path.join(archive, "pass-%02d" % n)
    values.tofile(base + ".values")
    nibbles.tofile(base + ".nibbles")
    output = os.path.join(folder, "pass-%02d.tdf" % n)
    extra = ["--truncate", "9000"] if n == 9 else []
    subprocess.run([tdwrite, output, "--kind", "infrared", "--rows", str(rows), "--columns", str(columns),
                    "--compressed", "--values", base + ".values", "--nibbles", base + ".nibbles",
                    "channel_number=6", "calibration_type=2", "satellite_id=%d" % satellites[satellite],
                    "orbit_start_year=2024", "orbit_start_day=%d" % day,
                    "orbit_start_hour_minute=%d" % (minute // 60 % 24 * 100 + minute % 60),
                    "orbit_start_second=%d" % (7 * n % 60)] + extra, check=True)
    os.remove(base + ".values")
    os.remove(base + ".nibbles")
PYTHON

"$build/batch/tdfbatch" -q --tdftogif "$build/converter/tdftogif" --index \
    "$scratch/archive" "$scratch/quicklooks" -- -1 255,255,255 2>/dev/null || true

/usr/bin/python3 - "$scratch/quicklooks/index.html" "$top/docs/images/browse-page.png" "$scratch" <<'PYTHON'
import sys
from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.ui import WebDriverWait

page, picture, scratch = sys.argv[1:4]
options = Options()
for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--window-size=1200,1060", "--hide-scrollbars", "--user-data-dir=" + scratch + "/profile"):
    options.add_argument(flag)
options.binary_location = "/usr/bin/chromium"
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
try:
    driver.get("file://" + page)
    WebDriverWait(driver, 20).until(
        lambda d: d.execute_script("return document.documentElement.getAttribute('data-ready')"))
    WebDriverWait(driver, 20).until(lambda d: d.execute_script(
        "return Array.from(document.images).every(i => i.loading == 'lazy' && i.getBoundingClientRect().top > innerHeight"
        " || i.complete && i.naturalWidth > 0)"))
    driver.save_screenshot(picture)
finally:
    driver.quit()
PYTHON
echo "docs/images/browse-page.png: tdfbatch --index on 14 synthetic passes, one cut short"
