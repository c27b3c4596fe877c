#!/bin/sh
# Installs the build into a scratch prefix and builds small programs against
# the installed library: a C program through pkg-config (shared and static)
# and through the CMake package configuration.  Checks the installed layout,
# the soname and that the shared library exports the td_ interface only.
#
# Usage: install_test.sh BUILD_DIR PROBE_SOURCE
# Environment: CC (default cc), CXX (default c++), PROBE_FLAGS (extra compile and link flags,
# the sanitizer flags of a sanitizer build).
set -eu

build=$1
probe=$2
cc=${CC:-cc}
cxx=${CXX:-c++}
flags=${PROBE_FLAGS:-}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tdf-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix with space"

fail() {
    echo "install_test: $*" >&2
    exit 1
}

cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log" >&2; fail "cmake --install failed"; }

# The installed layout.
for f in bin/tdftogif bin/tdfinfo bin/tdfbatch include/tidewell.h \
         share/man/man1/tdftogif.1 share/man/man1/tdfinfo.1 share/man/man1/tdfbatch.1; do
    [ -e "$prefix/$f" ] || fail "$f not installed"
done
pcfile=$(find "$prefix" -name tidewell.pc)
[ -n "$pcfile" ] || fail "tidewell.pc not installed"
libdir=$(dirname "$(dirname "$pcfile")")
for f in libtidewell.a libtidewell.so; do
    [ -e "$libdir/$f" ] || fail "$f not installed in $libdir"
done
[ -e "$libdir/cmake/tidewell/tidewellConfig.cmake" ] || fail "CMake package configuration not installed"
[ -x "$prefix/bin/tdfinfo" ] && [ -x "$prefix/bin/tdftogif" ] || fail "commands not executable"

# Soname and exported symbols.
soname=$(readelf -d "$libdir/libtidewell.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "libtidewell.so.1" ] || fail "soname is '$soname', expected libtidewell.so.1"
[ -e "$libdir/$soname" ] || fail "$soname not installed"
foreign=$(nm -D --defined-only "$libdir/libtidewell.so" | awk '{print $NF}' | grep -v '^td_' || true)
[ -z "$foreign" ] || fail "the shared library exports more than td_ symbols: $foreign"

# pkg-config: the shared library.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
cflags=$(pkg-config --cflags tidewell)
libs=$(pkg-config --libs tidewell)
# shellcheck disable=SC2086
eval "$cc" -std=c11 -Wall -Wextra -Werror $flags $cflags -o "\"$scratch/probe\"" "\"$probe\"" $libs \
    || fail "the probe does not build with pkg-config --cflags/--libs"
LD_LIBRARY_PATH="$libdir" "$scratch/probe" "$scratch/probe.tdf" >"$scratch/out" ||
    fail "the probe (shared library) failed"
grep -qx "probe ok" "$scratch/out" || fail "the probe (shared library) printed: $(cat "$scratch/out")"
ldd_line=$(LD_LIBRARY_PATH="$libdir" ldd "$scratch/probe" | grep libtidewell || true)
case $ldd_line in
    *"$libdir"*) ;;
    *) fail "the probe is not linked with the installed shared library: $ldd_line" ;;
esac

# pkg-config --static: the static library and its private dependencies.
static_libs=$(pkg-config --static --libs tidewell | sed 's/-ltidewell/-l:libtidewell.a/')
# shellcheck disable=SC2086
eval "$cc" -std=c11 $flags $cflags -o "\"$scratch/probe_static\"" "\"$probe\"" $static_libs \
    || fail "the probe does not build with pkg-config --static"
"$scratch/probe_static" "$scratch/probe_static.tdf" | grep -qx "probe ok" ||
    fail "the probe (static library) failed"

# The CMake package configuration.
mkdir "$scratch/consumer"
cat >"$scratch/consumer/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.16)
project(consumer C CXX)
find_package(tidewell 1.0 CONFIG REQUIRED)
add_executable(probe_shared "$probe")
target_link_libraries(probe_shared PRIVATE tidewell::tidewell)
add_executable(probe_static "$probe")
target_link_libraries(probe_static PRIVATE tidewell::tidewell_static)
CMAKE
cmake -S "$scratch/consumer" -B "$scratch/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
      >"$scratch/consumer.log" 2>&1 &&
    cmake --build "$scratch/consumer/build" >>"$scratch/consumer.log" 2>&1 ||
    { cat "$scratch/consumer.log" >&2; fail "find_package(tidewell) consumer does not build"; }
for p in probe_shared probe_static; do
    "$scratch/consumer/build/$p" "$scratch/$p.tdf" | grep -qx "probe ok" ||
        fail "the CMake-built $p failed"
done

# The installed commands run.
"$prefix/bin/tdfinfo" >/dev/null 2>&1 && fail "tdfinfo without arguments succeeded"
LD_LIBRARY_PATH="$libdir" "$prefix/bin/tdfinfo" "$scratch/none.tdf" 2>"$scratch/err" && fail "tdfinfo of a missing file succeeded"
grep -qx "tdfinfo: $scratch/none.tdf: cannot access dataset" "$scratch/err" || fail "tdfinfo failure line: $(cat "$scratch/err")"
# tdfbatch finds the tdftogif installed beside it, with no PATH to look in.
mkdir "$scratch/passes"
"$build/tools/writer/make_sample" "$scratch/passes/p.tdf" 40 60 || fail "make_sample failed"
PATH=/nonexistent "$prefix/bin/tdfbatch" -q "$scratch/passes" "$scratch/gifs" 2>"$scratch/err" ||
    fail "installed tdfbatch: $(cat "$scratch/err")"
[ -s "$scratch/gifs/p.gif" ] || fail "installed tdfbatch converted nothing"

echo "install_test: ok ($libdir)"
