#!/bin/sh
# Regenerates the pictures of README.md and docs/user-guide.md from the bundled sample scene
# (written by the project's own tools/writer/make_sample): the sample and a
# few variants into docs/images/, and the colour-map gallery, the scene once
# through each of the built-in maps, into docs/gallery/.
# Usage: scripts/readme_images.sh [BUILD_DIR]     (default: build)
set -eu

build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
tdftogif="$build/converter/tdftogif"
make_sample="$build/tools/writer/make_sample"
for tool in "$tdftogif" "$make_sample"; do
    [ -x "$tool" ] || { echo "readme_images: $tool is not built (make demo builds it)" >&2; exit 1; }
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tdf-images.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
"$make_sample" "$scratch/sst.tdf"
"$make_sample" "$scratch/small.tdf" 240 320

images="$top/docs/images"
mkdir -p "$images"
render() {
    name=$1
    shift
    "$tdftogif" "$@" -o "$images/$name.gif" "$scratch/sst.tdf"
    echo "docs/images/$name.gif: tdftogif $*"
}
render sample -1 255,255,255 -2 dyn -s -u
render meridia -m meridia -l 8 -h 26 -1 255,255,0
render inverted -i -1 0,0,0 -2 dyn
render fahrenheit -f -t 4 -d 0 -s -u -1 255,0,255
render planes-dynamic -1 dyn -2 dyn -c 16

mkdir -p "$top/docs/gallery"
for map in hsl256 black-white prism hsl256_tek meridia viridis cividis; do
    # Coast line (plane 1) in white, the grid (plane 2) dynamic, a UTC
    # stamp so that the picture does not depend on the local time zone.
    "$tdftogif" -m "$map" -1 255,255,255 -2 dyn -s -u \
        -o "$top/docs/gallery/$map.gif" "$scratch/small.tdf"
    echo "docs/gallery/$map.gif"
done
