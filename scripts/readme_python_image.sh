#!/bin/sh
# Draws the picture of docs/python.md, docs/images/python-region.png:
# python/examples/plot_region.py run on the bundled sample scene (written by
# the project's own tools/writer/make_sample) through the package staged in
# the build tree.  Installs Debian's matplotlib when it is missing.
# Usage: scripts/readme_python_image.sh [BUILD_DIR]     (default: build)
set -eu

build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
sh "$top/scripts/install-deps.sh" python3-matplotlib
make_sample="$build/tools/writer/make_sample"
[ -x "$make_sample" ] && [ -d "$build/python/tidewell" ] ||
    { echo "readme_python_image: $build is not built (make demo builds it)" >&2; exit 1; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tdf-python-image.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
"$make_sample" "$scratch/sst.tdf"
PYTHONPATH="$build/python" /usr/bin/python3 "$top/python/examples/plot_region.py" \
    "$scratch/sst.tdf" "$top/docs/images/python-region.png"
echo "docs/images/python-region.png: python/examples/plot_region.py"
