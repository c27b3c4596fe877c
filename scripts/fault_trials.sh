#!/bin/sh
# fault_trials.sh BUILD [N] - the data-safety fault cases repeated N times
# (default 100), with the counts of datasets intact.  Not run by ctest: at
# 100 trials it takes a few minutes.
#
#   - kills at random moments of a read-write open that changes a
#     compressed dataset and closes it (own file, second hard link, folder
#     not writable, writer not the owner): TDF_FAULT_TRIALS trials per case;
#   - conversions beside a writer (2 x N conversions, the writer killed at
#     the end);
#   - the deterministic cases (each refusal once: a second hard link, the
#     file replaced, the folder not writable, a link made while the new file
#     is written; full file system, no free inode, full temporary folder,
#     read-write open that changes nothing, private side files, -o onto the
#     input, inputs that are not regular files, one-line failures) each run
#     N times.
#
# Every dataset is changed through the public calls (td_varput_float,
# td_varput_byte) and written back by td_close.
set -eu
build=${1:-build}
n=${2:-100}
bin=$build/tests/data_safety_tests
[ -x "$bin" ] || { echo "fault_trials: $bin not built (cmake --build $build --target data_safety_tests)" >&2; exit 2; }

echo "== random kills and conversions beside a writer, $n trials per case"
TDF_FAULT_TRIALS=$n "$bin" --gtest_filter='Safety.CloseKilled*:Safety.ConversionsBeside*' |
    grep -E '^\[ trials \]|FAILED|PASSED|SKIPPED'

echo "== deterministic fault cases, $n runs each"
"$bin" --gtest_filter='Safety.EachRefusal*:Safety.FullFileSystems*:Safety.ReadWrite*:Safety.SideFiles*:Commands.*' \
       --gtest_repeat="$n" |
    awk '/^\[       OK \]/ { ok[$4]++ } /^\[  FAILED  \]/ && NF == 4 { bad[$4]++ }
         /^\[  SKIPPED \]/ && NF == 4 { skip[$4]++ }
         END { for (t in ok) printf "%-60s %d passed, %d failed, %d skipped\n", t, ok[t], bad[t], skip[t]
               for (t in bad) if (!(t in ok)) printf "%-60s 0 passed, %d failed\n", t, bad[t] }'
