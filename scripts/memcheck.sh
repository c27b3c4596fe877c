#!/bin/sh
# Runs tdftogif under valgrind's memcheck on a dataset of every kind (plain
# and compressed, shifted, with planes) and on broken ones, and fails on any
# memory error or any leaked block.  Blocks still reachable at exit (the C
# library's and gd's own) are not counted.
#
# Usage: scripts/memcheck.sh [TDFTOGIF [MAKE_SEEDS]]
#   defaults: build/converter/tdftogif and build/tools/writer/make_seeds
#   MEMCHECK_ALL=1  every dataset make_seeds writes, not one of each sort
set -eu

tdftogif=${1:-build/converter/tdftogif}
make_seeds=${2:-build/tools/writer/make_seeds}
command -v valgrind >/dev/null || { echo "memcheck: valgrind is not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/data" "$work/logs"
"$make_seeds" "$work/data" >/dev/null

# Broken datasets: the failure paths must release everything too.
for f in "$work"/data/*compressed.tdf; do
    head -c 1100 "$f" >"$work/data/cut-$(basename "$f")"
    break
done
printf 'not a dataset' >"$work/data/not-a-dataset.tdf"

# One run: name, expected exit status, arguments.
run() {
    name=$1 expected=$2
    shift 2
    status=0
    valgrind --tool=memcheck -q --error-exitcode=99 --leak-check=full \
        --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible \
        --log-file="$work/logs/$name.log" "$tdftogif" "$@" >/dev/null 2>"$work/logs/$name.err" || status=$?
    if [ "$status" -ne "$expected" ] || [ -s "$work/logs/$name.log" ]; then
        echo "FAIL $name: exit status $status (expected $expected)"
        cat "$work/logs/$name.err" "$work/logs/$name.log"
        return 1
    fi
    echo "ok   $name"
}

failed=0
jobs=""
# One of each sort: visible with planes, infrared shifted, compressed with
# planes, compressed and shifted, long graphics runs, narrow rows, a
# sea-surface temperature, an angle, the scan time, shifted cloud bytes.
if [ "${MEMCHECK_ALL:-0}" = 1 ]; then
    selected=$(ls "$work"/data/[0-9]*.tdf)
else
    selected=""
    for n in 00 06 12 14 16 17 18 19 23 25; do
        selected="$selected $(ls "$work"/data/$n-*.tdf)"
    done
fi
for f in $selected; do
    name=$(basename "$f" .tdf)
    run "$name" 0 -s -u -1 dyn -2 255,0,0 -4 dyn -o "$work/$name.gif" "$f" >"$work/logs/$name.result" &
    jobs="$jobs $!"
done
run cut-compressed 32 -o "$work/cut.gif" "$work"/data/cut-*.tdf >"$work/logs/cut.result" &
jobs="$jobs $!"
run not-a-dataset 26 "$work/data/not-a-dataset.tdf" >"$work/logs/magic.result" &
jobs="$jobs $!"
run bad-colour-map 250 -m nosuch -o "$work/x.gif" "$work"/data/00-*.tdf >"$work/logs/cmap.result" &
jobs="$jobs $!"
run too-many-ticks 249 -t 1e-9 -o "$work/y.gif" "$work"/data/00-*.tdf >"$work/logs/tics.result" &
jobs="$jobs $!"
for j in $jobs; do
    wait "$j" || failed=$((failed + 1))
done
cat "$work"/logs/*.result
total=$(ls "$work"/logs/*.result | wc -l)
echo "memcheck: $((total - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
