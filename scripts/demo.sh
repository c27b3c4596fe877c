#!/bin/sh
# The demo: writes the bundled sample dataset (a compressed infrared
# sea-surface-temperature scene with fronts, eddies, missing samples, a
# coast line in graphics plane 1 and a grid in plane 2, made by the
# project's own dataset writer) and converts it to a GIF.
# Usage: scripts/demo.sh [BUILD_DIR]     (default: build)
set -eu

build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
tdftogif="$build/converter/tdftogif"
make_sample="$build/tools/writer/make_sample"
for tool in "$tdftogif" "$make_sample"; do
    [ -x "$tool" ] || { echo "demo: $tool is not built (make demo builds it)" >&2; exit 1; }
done

mkdir -p "$top/out"
"$make_sample" "$top/out/sample.tdf"
# Coast line in white, the grid dynamic (light on dark, dark on light) and
# the orbit's time stamp in UTC.
"$tdftogif" -1 255,255,255 -2 dyn -s -u -o "$top/out/sample.gif" "$top/out/sample.tdf"
echo "sample dataset: $top/out/sample.tdf"
echo "its quicklook:  $top/out/sample.gif"
