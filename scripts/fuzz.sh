#!/bin/sh
# Builds the libFuzzer harnesses with clang and runs each for a bounded time.
# Fails on any crash, leak, sanitizer report, failed check or timeout of a
# harness.
#
# Usage: scripts/fuzz.sh [build-dir]
#   FUZZ_TIME      seconds per harness (default 300)
#   FUZZ_RUNS      stop a harness after this many executions instead (0: no limit)
#   FUZZ_HARNESSES harnesses to run (default: all of them)
#   FUZZ_JOBS      build jobs (default: the number of processors)
#
# The seed corpora are written anew by the project's own dataset writer
# (<build-dir>/fuzz/seeds-<harness>); what the fuzzer adds is kept in
# <build-dir>/fuzz/corpus-<harness>, crashing inputs in
# <build-dir>/fuzz/artifacts-<harness>/, logs in <build-dir>/fuzz/<harness>.log.
# Inputs in fuzz/regressions/<harness>/ (findings, now fixed) are replayed
# first.
set -eu
cd "$(dirname "$0")/.."

build=${1:-build-fuzz}
seconds=${FUZZ_TIME:-300}
runs=${FUZZ_RUNS:-0}
harnesses=${FUZZ_HARNESSES:-"fuzz_dataset fuzz_readwrite fuzz_convert fuzz_gdal"}
jobs=${FUZZ_JOBS:-$(nproc 2>/dev/null || echo 2)}

# The build packages (without GDAL's, and so without fuzz_gdal, under
# GDAL=OFF), clang, and giflib, which the conversion harness reads its GIFs
# back with.
case ${GDAL:-ON} in
OFF | off | NO | no | FALSE | false | 0)
    sh scripts/install-deps.sh --without-gdal clang libclang-rt-14-dev libgif-dev
    gdal=OFF
    harnesses=${FUZZ_HARNESSES:-"fuzz_dataset fuzz_readwrite fuzz_convert"} ;;
*)
    sh scripts/install-deps.sh clang libclang-rt-14-dev libgif-dev
    gdal=ON ;;
esac

cmake -S . -B "$build" -DTDF_FUZZ=ON -DTDF_BUILD_TESTS=OFF -DTDF_BUILD_GDAL=$gdal -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j "$jobs" --target make_seeds $harnesses

work="$build/fuzz"
# Reports go to the harness's stderr; a recoverable UBSan report would let a
# run pass, so every report halts.  Allocation stacks are not recorded and
# freed memory is reused sooner than by default, which makes each run
# markedly cheaper; running a crashing input again (the harness with the
# input as its argument) gives the full report.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:allocator_may_return_null=1:malloc_context_size=0:quarantine_size_mb=64${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
# The harnesses' scratch files (the datasets they write, the converter's
# output) go to a memory file system when one has room: the library and the
# converter flush what they write to the disk, and on a disk the flushes
# take most of a run (three to four times fewer executions a second).
case $work in
/*) tmp="$work/tmp" ;;
*) tmp="$PWD/$work/tmp" ;;
esac
shm_free=$(df -Pk /dev/shm 2>/dev/null | awk 'NR == 2 { print $4 }')
if [ -d /dev/shm ] && [ -w /dev/shm ] && [ "${shm_free:-0}" -ge 1048576 ]; then
    tmp=$(mktemp -d /dev/shm/tdfuzz.XXXXXX)
    trap 'rm -rf "$tmp"' EXIT
    trap 'rm -rf "$tmp"; exit 130' INT TERM
fi
mkdir -p "$tmp"
export TMPDIR="$tmp"

failed=""
summary=""
for h in $harnesses; do
    seeds="$work/seeds-$h"
    corpus="$work/corpus-$h"
    artifacts="$work/artifacts-$h"
    log="$work/$h.log"
    rm -rf "$seeds"
    mkdir -p "$seeds" "$corpus" "$artifacts"
    "$build/tools/writer/make_seeds" "$seeds" "$h" >/dev/null

    if [ -d "fuzz/regressions/$h" ] && [ -n "$(ls -A "fuzz/regressions/$h")" ]; then
        echo "== $h: replaying fuzz/regressions/$h"
        if ! "$work/$h" -close_fd_mask=3 fuzz/regressions/"$h"/* >"$log.regressions" 2>&1; then
            tail -n 30 "$log.regressions"
            failed="$failed $h(regressions)"
            continue
        fi
    fi

    echo "== $h: fuzzing for $seconds s (log: $log)"
    # -close_fd_mask=3 silences the converter's own failure lines; the
    # fuzzer's and the sanitizers' reports still reach the log.
    status=0
    "$work/$h" -max_total_time="$seconds" -runs="$((runs > 0 ? runs : -1))" -print_final_stats=1 \
        -close_fd_mask=3 -max_len=8192 -timeout=30 -rss_limit_mb=4096 -artifact_prefix="$artifacts/" \
        "$corpus" "$seeds" >"$log" 2>&1 || status=$?
    units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    elapsed=$(sed -n 's/.*Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n 1)
    tail -n 12 "$log"
    if [ "$status" -ne 0 ] || grep -q -e '^==[0-9]*==ERROR' -e 'runtime error:' "$log"; then
        echo "== $h: FAILED (status $status); crashing inputs in $artifacts/"
        failed="$failed $h"
    fi
    summary="$summary
$h: ${units:-?} executions in ${elapsed:-?} s, exit status $status"
done

echo "== fuzz summary:$summary"
if [ -n "$failed" ]; then
    echo "fuzz: failed:$failed" >&2
    exit 1
fi
echo "fuzz: no crash, leak, sanitizer report or failed check"
