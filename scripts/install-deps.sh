#!/bin/sh
# Installs the Debian packages the build needs, when they are missing.
# As root it runs apt-get; otherwise it prints the command to run and fails.
# Usage: scripts/install-deps.sh [extra-package ...]
set -eu

packages="cmake make g++ pkg-config libgd-dev libgtest-dev man-db python3 valgrind $*"
# The GDAL plugin (gdal/) and its tests: GDAL's development files, its
# command-line tools, and Python with GDAL, rasterio and rioxarray.
packages="$packages libgdal-dev gdal-bin python3-gdal python3-rasterio python3-rioxarray python3-numpy python3-pytest"
# The batch recipes of the README: GNU parallel, jq for choosing datasets
# and reading tdfbatch's reports.
packages="$packages parallel jq"
# tdfbatch's browse page, tested in a real browser: headless chromium driven
# by selenium through chromium's WebDriver.
packages="$packages chromium chromium-driver python3-selenium"
# The Python package (python/) and its tests: xarray with dask
# (open_mfdataset), dask.distributed (workers in other processes), and venv
# with pip and setuptools for the installation test.
packages="$packages python3-xarray python3-dask python3-distributed python3-venv python3-pip python3-setuptools"
# Datasets in archives and over HTTP from Python (fsspec; aiohttp for http://).
packages="$packages python3-fsspec python3-aiohttp"
# The converter's tests: giflib and Pillow decode reduced GIFs; matplotlib
# holds the published viridis and cividis tables the built-in ones are
# checked against.
packages="$packages libgif-dev python3-pil python3-matplotlib"
missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    echo "installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends $missing
else
    echo "missing packages:$missing" >&2
    echo "run as root: apt-get update && apt-get install -y$missing" >&2
    exit 1
fi
