#!/bin/sh
# tdfbatch's benchmark (part of make bench): an archive of 10,000 small
# datasets made by the writer (kept in BENCH_BUILD/bench-data/batch/), once
# converted; then REPS reruns over it unchanged, without and with the page,
# each of which must convert nothing; then the page of 10,000 cards loaded
# and filtered in headless Chromium (bench/browse_page_bench.py).  Prints
# the medians.
#
# Usage: batch_bench.sh BENCH_BUILD_DIR [REPS] [DATASETS]
set -eu

build=$1
reps=${2:-7}
count=${3:-10000}
work="$build/bench-data/batch-$count"
top=$(cd "$(dirname "$0")/.." && pwd)
cmake --build "$build" --target tdfbatch tdftogif make_archive >"$build/batch_bench_build.log" 2>&1 ||
    { echo "batch_bench: the build failed, see $build/batch_bench_build.log"; exit 1; }
tdfbatch="$build/batch/tdfbatch"
tdftogif="$build/converter/tdftogif"

if [ ! -d "$work/data" ]; then
    rm -rf "$work"
    mkdir -p "$work"
    "$build/tools/writer/make_archive" "$work/data" "$work/spare" 0 "$count" --intact >/dev/null
fi
now() { date +%s.%N; }
# The first run converts what is out of date (everything at first, or after
# tdftogif was rebuilt); it is timed, but it is not the subject.
start=$(now)
"$tdfbatch" -q --tdftogif "$tdftogif" --index "$work/data" "$work/out" 2>"$work/first.txt"
end=$(now)
echo "batch_bench: first run: $(tail -n 1 "$work/first.txt" | sed 's/^tdfbatch: //') (wall $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }') s)"

: >"$work/times"
for rep in $(seq "$reps"); do
    for page in no yes; do
        flag=
        [ "$page" = yes ] && flag=--index
        start=$(now)
        "$tdfbatch" -q --tdftogif "$tdftogif" $flag "$work/data" "$work/out" 2>"$work/rerun.txt"
        end=$(now)
        grep -Eq "^tdfbatch: 0 converted, $count skipped, 0 failed" "$work/rerun.txt" ||
            { echo "batch_bench: the rerun converted something: $(cat "$work/rerun.txt")"; exit 1; }
        echo "$page $start $end" >>"$work/times"
    done
done
echo
echo "tdfbatch over $count unchanged datasets, $reps runs each, median wall time:"
echo
echo "| run | median (s) | limit (s) |"
echo "|---|---|---|"
for page in no yes; do
    median=$(awk -v p="$page" '$1 == p { print $3 - $2 }' "$work/times" | sort -n |
             awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
    label="rerun, nothing to convert"
    [ "$page" = yes ] && label="rerun with --index (page of $count cards written)"
    printf '| %s | %.3f | 2 |\n' "$label" "$median"
done
echo
/usr/bin/python3 "$top/bench/browse_page_bench.py" "$work/out/index.html" "$reps"
