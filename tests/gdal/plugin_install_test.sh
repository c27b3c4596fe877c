#!/bin/sh
# Installs the build and checks where the GDAL plugin goes: under
# <prefix>/<libdir>/gdalplugins for a prefix of its own, where gdalinfo
# finds it through GDAL_DRIVER_PATH; into GDAL's own plugin folder, under
# DESTDIR, when staged for GDAL's prefix.
#
# Usage: plugin_install_test.sh BUILD_DIR GDAL_PLUGIN_DIR MAKE_GDAL_FIXTURES
set -eu

build=$1
system_dir=$2
make_fixtures=$3

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tdf-plugin-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() {
    echo "plugin_install_test: $*" >&2
    exit 1
}

prefix="$scratch/prefix with space"
cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log" >&2; fail "cmake --install failed"; }
plugin=$(find "$prefix" -name gdal_Tidewell.so)
case $plugin in
    "$prefix"/lib*/gdalplugins/gdal_Tidewell.so) ;;
    *) fail "plugin installed as '$plugin'" ;;
esac
mkdir "$scratch/data"
"$make_fixtures" "$scratch/data"
GDAL_DRIVER_PATH=$(dirname "$plugin") gdalinfo "$scratch/data/infrared-plain-mercator.tdf" >"$scratch/info" ||
    fail "gdalinfo failed with the installed plugin"
grep -q "^Driver: Tidewell/" "$scratch/info" || fail "gdalinfo did not use the plugin: $(head -1 "$scratch/info")"

# A staged install for GDAL's own prefix lands in GDAL's plugin folder,
# under DESTDIR and nowhere else.
gdal_prefix=${system_dir%%/lib*}
before=$(ls -l "$system_dir" 2>/dev/null || true)
DESTDIR="$scratch/stage" cmake --install "$build" --prefix "$gdal_prefix" >"$scratch/stage.log" 2>&1 ||
    { cat "$scratch/stage.log" >&2; fail "staged cmake --install failed"; }
[ -f "$scratch/stage$system_dir/gdal_Tidewell.so" ] || fail "not staged into $system_dir: $(find "$scratch/stage" -name 'gdal_*')"
[ "$(ls -l "$system_dir" 2>/dev/null || true)" = "$before" ] || fail "the staged install changed $system_dir"
echo "plugin_install_test: ok"
