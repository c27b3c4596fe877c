#!/bin/sh
# Replays the fuzz corpora in a coverage build (gcc, gcov) and prints the
# line coverage of every file of dataset/, converter/ and gdal/, then of
# the library (dataset/) alone.
#
# Usage: scripts/fuzz_coverage.sh [coverage-build-dir [fuzz-build-dir]]
#   FUZZ_HARNESSES harnesses to replay (default: all of them)
#   FUZZ_JOBS      build jobs (default: the number of processors)
#
# Each harness replays its seed corpus (written anew by the project's
# dataset writer), fuzz/regressions/<harness>/, and the corpus that
# scripts/fuzz.sh grew in <fuzz-build-dir>/fuzz/corpus-<harness> (default
# build-fuzz), when there is one.
set -eu
cd "$(dirname "$0")/.."

build=${1:-build-coverage}
fuzz_build=${2:-build-fuzz}
harnesses=${FUZZ_HARNESSES:-"fuzz_dataset fuzz_readwrite fuzz_convert fuzz_gdal"}
jobs=${FUZZ_JOBS:-$(nproc 2>/dev/null || echo 2)}

sh scripts/install-deps.sh gcovr libgif-dev

cmake -S . -B "$build" -DTDF_FUZZ_COVERAGE=ON -DTDF_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" -j "$jobs" --target make_seeds $harnesses
find "$build" -name '*.gcda' -delete

work="$build/fuzz"
tmp="$work/tmp"
mkdir -p "$tmp"
export TMPDIR="$PWD/$tmp"
for h in $harnesses; do
    seeds="$work/seeds-$h"
    rm -rf "$seeds"
    mkdir -p "$seeds"
    "$build/tools/writer/make_seeds" "$seeds" "$h" >/dev/null
    set -- "$seeds"
    [ -d "fuzz/regressions/$h" ] && set -- "$@" "fuzz/regressions/$h"
    [ -d "$fuzz_build/fuzz/corpus-$h" ] && set -- "$@" "$fuzz_build/fuzz/corpus-$h"
    status=0
    "$work/$h" "$@" >"$work/$h.out" 2>"$work/$h.err" || status=$?
    echo "== $h: $(tail -n 1 "$work/$h.out")"
    if [ "$status" -ne 0 ]; then
        grep "^$h:" "$work/$h.err" >&2 || tail -n 5 "$work/$h.err" >&2
        echo "fuzz_coverage: $h failed on its corpus (status $status)" >&2
        exit 1
    fi
done

echo "== line coverage of dataset/, converter/ and gdal/"
gcovr -r . --object-directory "$build" --filter 'dataset/' --filter 'converter/' --filter 'gdal/' \
      --txt --sort-percentage
echo "== line coverage of the library (dataset/)"
# gcovr replaces its output file (as root it would replace even a device
# such as /dev/null), so the unwanted per-file table goes to a file of our
# own, removed on exit.
table=$(mktemp)
trap 'rm -f "$table"' EXIT
gcovr -r . --object-directory "$build" --filter 'dataset/' --print-summary --txt "$table"
