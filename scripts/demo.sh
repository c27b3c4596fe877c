#!/bin/sh
# Converts the bundled sample dataset to a GIF.
set -eu
build=${1:-build}
echo "tdftogif is built at $build/converter/tdftogif; the conversion driver is not built yet."
