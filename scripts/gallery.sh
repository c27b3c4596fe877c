#!/bin/sh
# Renders the colour-map gallery of the README: the demo scene (written by
# the project's own tests/writer/make_sample) converted by tdftogif once
# through each of the five colour maps, into docs/gallery/MAP.gif.
# Usage: scripts/gallery.sh [BUILD_DIR]     (default: build)
set -eu

build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
tdftogif="$build/converter/tdftogif"
make_sample="$build/tests/make_sample"
for tool in "$tdftogif" "$make_sample"; do
    [ -x "$tool" ] || { echo "gallery: $tool is not built (cmake --build $build)" >&2; exit 1; }
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tdf-gallery.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
"$make_sample" "$scratch/sst.tdf" 240 320

mkdir -p "$top/docs/gallery"
for map in hsl256 black-white prism hsl256_tek meridia; do
    # Coast line (plane 1) in white, the grid (plane 2) dynamic, a UTC
    # stamp so that the picture does not depend on the local time zone.
    "$tdftogif" -m "$map" -1 255,255,255 -2 dyn -s -u \
        -o "$top/docs/gallery/$map.gif" "$scratch/sst.tdf"
    echo "docs/gallery/$map.gif"
done
