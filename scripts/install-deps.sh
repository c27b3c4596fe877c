#!/bin/sh
# Installs the Debian packages a build needs, when they are missing.
# As root it runs apt-get; otherwise it prints the command to run and fails.
#
# Usage: scripts/install-deps.sh [--test] [--without-gdal] [extra-package ...]
#   (none)          what make build and make demo need: the compiler, CMake,
#                   gd and, for the GDAL plugin, GDAL's development files
#   --test          also everything make test runs: GoogleTest, valgrind,
#                   Python with its packages, a browser, GNU parallel, jq...
#   --without-gdal  no GDAL plugin (make GDAL=OFF): neither GDAL's
#                   development files nor the plugin's test tools
set -eu

tests=no
gdal=yes
extra=""
for arg in "$@"; do
    case $arg in
    --test) tests=yes ;;
    --without-gdal) gdal=no ;;
    -*) echo "install-deps: unknown option $arg" >&2; exit 2 ;;
    *) extra="$extra $arg" ;;
    esac
done

# The programs, the library and the plugin.
packages="cmake make g++ pkg-config libgd-dev"
[ "$gdal" = yes ] && packages="$packages libgdal-dev"

if [ "$tests" = yes ]; then
    # GoogleTest, valgrind's memcheck, the manual pages' renderer, Python.
    packages="$packages libgtest-dev valgrind man-db python3 python3-numpy python3-pytest"
    # The GDAL plugin's tests: GDAL's command-line tools, and Python with
    # GDAL, rasterio and rioxarray.
    [ "$gdal" = yes ] && packages="$packages gdal-bin python3-gdal python3-rasterio python3-rioxarray"
    # The batch recipes of the documentation: GNU parallel, jq for choosing
    # datasets and reading tdfbatch's reports.
    packages="$packages parallel jq"
    # The manual page's example of a dataset copied out of a zip archive.
    packages="$packages unzip"
    # tdfbatch's browse page, tested in a real browser: headless chromium
    # driven by selenium through chromium's WebDriver.
    packages="$packages chromium chromium-driver python3-selenium"
    # The Python package (python/) and its tests: xarray with dask
    # (open_mfdataset), dask.distributed (workers in other processes), and
    # venv with pip and setuptools for the installation test.
    packages="$packages python3-xarray python3-dask python3-distributed python3-venv python3-pip python3-setuptools"
    # Datasets in archives and over HTTP from Python (fsspec; aiohttp for
    # http://).
    packages="$packages python3-fsspec python3-aiohttp"
    # The converter's tests: giflib and Pillow decode reduced GIFs;
    # matplotlib holds the published viridis and cividis tables the built-in
    # ones are checked against.
    packages="$packages libgif-dev python3-pil python3-matplotlib"
fi
packages="$packages$extra"

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
