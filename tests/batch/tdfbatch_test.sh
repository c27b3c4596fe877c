#!/bin/bash
# tdfbatch_test.sh - tdfbatch on an archive of 60 files made by the writer
# (nested folders, 3 damaged datasets, 2 files that are no dataset, a name
# with a blank, a dataset named without ".tdf"), every quicklook compared
# byte for byte with a direct tdftogif run.
#
# Usage: tdfbatch_test.sh TDFBATCH TDFTOGIF MAKE_ARCHIVE STAND_IN [PART]
#   PART 1: the incremental runs and the kills (1 to 4); 2: shards, time
#   limits, names, locks and usage (5 to 9); none: both.  ctest runs the
#   two parts side by side.
set -uo pipefail
tdfbatch=$1 tdftogif=$2 make_archive=$3 stand_in=$4 part=${5:-all}
# The stand-in's hanging child, told from those of other tests running now.
export STAND_IN_SLEEP="30.$$"
command -v jq > /dev/null || { echo "jq is missing (scripts/install-deps.sh installs it)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
batch() { "$tdfbatch" --tdftogif "$tdftogif" "$@"; }

# The archive, and the direct runs: the GIF each file gives with the
# default options and with -i, or the status it fails with.
"$make_archive" data spare > files.tsv || exit 1
declare -A status state converted
direct() {   # direct DIR [OPTIONS]: direct runs of the files not yet run into DIR
    local dir=$1 path
    shift
    while IFS=$'\t' read -r path _ _ _ kind; do
        [ -z "${converted[$dir/$path]:-}" ] || continue
        converted[$dir/$path]=1
        mkdir -p "$dir/$(dirname "$(gif_of "$path")")"
        "$tdftogif" "$@" -o "$dir/$(gif_of "$path")" "$path" 2> /dev/null
        status[$path]=$?
        state[$path]=$kind
    done < files.tsv
}
gif_of() { local p=${1#data/}; [[ $p == *.tdf ]] && echo "${p%.tdf}.gif" || echo "$p.gif"; }
direct plain
[ "$part" = 2 ] || direct inverted -i
datasets() { awk -F'\t' '$5 != "other" { print $1 }' files.tsv | LC_ALL=C sort; }
[ "$(datasets | wc -l)" = 58 ] || fail "the archive holds $(datasets | wc -l) datasets, not 58"

# Every quicklook in OUT is the direct one of DIR; failing datasets have
# none unless KEEP names them; nothing temporary is left.
check_outputs() {
    local out=$1 dir=$2 path gif
    while IFS=$'\t' read -r path _ _ _ kind; do
        gif=$(gif_of "$path")
        if [ "$kind" = intact ]; then
            cmp -s "$out/$gif" "$dir/$gif" || fail "$out/$gif is not the direct $dir GIF"
        elif [ -e "$out/$gif" ] && [[ " ${keep:-} " != *" $path "* ]]; then
            fail "$out/$gif made for a $kind file"
        fi
    done < files.tsv
    local stray
    stray=$(find "$out" -name '*.tdfbatch-part' -o -name '.*.tmp')
    [ -z "$stray" ] || fail "temporary files left: $stray"
}
# "status" of each dataset in a report, one "path status" a line, sorted.
outcomes() { jq -r '"\(.path) \(.status)"' "$1" | LC_ALL=C sort; }
with_status() { jq -r --arg s "$2" 'select(.status == $s) | .path' "$1" | LC_ALL=C sort; }

if [ "$part" != 2 ]; then
# 1. The first run converts every intact dataset and reports the damaged
#    ones, each in one line with its path and tdftogif's status.
batch -q --report r1.json data out > out.txt 2> err.txt
[ $? = 1 ] || fail "first run: exit status $? (a dataset failed: 1)"
check_outputs out plain
[ "$(jq -s length r1.json)" = 58 ] || fail "first run: $(jq -s length r1.json) report lines, not 58"
[ "$(with_status r1.json converted | wc -l)" = 55 ] || fail "first run: not 55 converted"
for path in $(awk -F'\t' '$5 == "damaged" { print $1 }' files.tsv); do
    [ "$(grep -c "^tdfbatch: $path: status ${status[$path]}: ." err.txt)" = 1 ] ||
        fail "first run: no failure line for $path with status ${status[$path]}"
    [ "$(jq -r --arg p "$path" 'select(.path == $p) | "\(.status) \(.exit)"' r1.json)" = "failed ${status[$path]}" ] ||
        fail "first run: $path not reported failed with ${status[$path]}"
done
grep -Eqx 'tdfbatch: 55 converted, 0 skipped, 3 failed, 2 other files, [0-9.]+ s' err.txt ||
    fail "first run: summary: $(tail -n 1 err.txt)"
[ "$(wc -l < err.txt)" = 4 ] && ! grep -q $'\r' err.txt || fail "first run: more than failures and summary: $(cat err.txt)"
[ ! -s out.txt ] || fail "first run wrote on standard output"
# The header essentials come from the library: those the writer put there.
while IFS=$'\t' read -r path sat kind date _; do
    [ "$sat" = - ] && continue
    got=$(jq -r --arg p "$path" 'select(.path == $p) |
          "\(.satellite) \(.kind) \(.time[0:4] | tonumber) \(.dimensions.rows > 0)"' r1.json)
    [ "$got" = "$sat $kind $((date / 1000)) true" ] || fail "first run: $path reported as $got"
done < files.tsv

# 2. Five passes added and two touched: exactly those 7 are converted, the
#    3 damaged retried, and no other quicklook is written again.
"$make_archive" data spare 60 5 >> files.tsv
direct plain; direct inverted -i
before=$(find out -name '*.gif' -printf '%i %T@ %p\n' | LC_ALL=C sort)
touched="data/hesk-15/2024/001/pass-10.tdf data/hesk-14/2024/060/pass 12.tdf"
touch data/hesk-15/2024/001/pass-10.tdf "data/hesk-14/2024/060/pass 12.tdf"
batch -q --report r2.json data out 2> err.txt
want=$( (awk -F'\t' 'NR > 60 { print $1 }' files.tsv; tr ' ' '\n' <<< "${touched// 12/+12}" | tr + ' ') | LC_ALL=C sort)
[ "$(with_status r2.json converted)" = "$want" ] || fail "second run converted [$(with_status r2.json converted)], not [$want]"
[ "$(with_status r2.json failed | wc -l)" = 3 ] && [ "$(grep -c ': status ' err.txt)" = 3 ] ||
    fail "second run: the 3 damaged datasets not retried"
after=$(find out -name '*.gif' -printf '%i %T@ %p\n' | LC_ALL=C sort)
[ "$(comm -23 <(echo "$before") <(echo "$after") | wc -l)" = 2 ] || fail "second run wrote more than the 2 touched again"
check_outputs out plain
# A dataset replaced by a copy (same size and times, another inode) and a
# quicklook touched by hand are converted again, and nothing else.
again="data/hesk-14/2023/364/pass-00.tdf data/hesk-15/2023/365/pass-01.tdf"
cp -p data/hesk-14/2023/364/pass-00.tdf copy.tdf && mv copy.tdf data/hesk-14/2023/364/pass-00.tdf
touch out/hesk-15/2023/365/pass-01.gif
batch -q --report r2.json data out 2> /dev/null
[ "$(with_status r2.json converted | tr '\n' ' ')" = "$again " ] || fail "converted [$(with_status r2.json converted)], not [$again]"

# 3. A dataset damaged after its conversion keeps its quicklook, fails, and
#    is tried again next time; a repaired one is converted.
repaired=$(awk -F'\t' '$5 == "damaged" { print $1; exit }' files.tsv)
cp "spare/${repaired#data/}" "$repaired"
awk -F'\t' -v OFS='\t' -v p="$repaired" '$1 == p { $5 = "intact" } 1' files.tsv > files.new && mv files.new files.tsv
unset "converted[plain/$repaired]" "converted[inverted/$repaired]"
direct plain; direct inverted -i
victim=data/hesk-15/2024/001/pass-10.tdf
cp "$victim" victim.tdf && head -c 300 victim.tdf > "$victim"
for round in 1 2; do
    batch -q --report r3.json data out 2> err.txt
    [ "$(outcomes r3.json | grep -c ' failed$')" = 3 ] &&
        [ "$(jq -r --arg p "$victim" 'select(.path == $p) | "\(.status) \(.bytes > 0)"' r3.json)" = "failed true" ] ||
        fail "round $round: $victim not failed with its quicklook kept"
    cmp -s "out/$(gif_of "$victim")" "plain/$(gif_of "$victim")" || fail "round $round: the kept quicklook changed"
    [ "$round" = 2 ] || [ "$(with_status r3.json converted)" = "$repaired" ] || fail "round 1: $repaired not converted"
done
cp victim.tdf "$victim"
batch -q data out 2> /dev/null

# 4. Killed at a random moment while the options change, each quicklook is
#    the old one or the new one, never anything else; the run after it
#    leaves every quicklook as a direct run makes it.
killed_run() {   # killed_run SIGNAL OPTIONS...
    local sig=$1 pid
    shift
    "$tdfbatch" --tdftogif "$tdftogif" -q -j 2 data out -- "$@" 2> /dev/null &
    pid=$!
    sleep "0.$((RANDOM % 50))"
    kill -"$sig" "$pid" 2> /dev/null
    { wait "$pid"; } 2> /dev/null
    local path gif
    while IFS=$'\t' read -r path _ _ _ kind; do
        gif=$(gif_of "$path")
        [ "$kind" = intact ] || continue
        cmp -s "out/$gif" "plain/$gif" || cmp -s "out/$gif" "inverted/$gif" || fail "killed run: $gif is neither"
    done < files.tsv
}
# The options go from the default to -i and back at each trial.
options=(-i) direct_dir=inverted
for trial in KILL TERM KILL INT; do
    killed_run "$trial" "${options[@]}"
    [ "$trial" = KILL ] || [ -z "$(find out -name '*.tdfbatch-part')" ] || fail "SIG$trial left temporary files"
    batch -q data out -- "${options[@]}" 2> /dev/null
    check_outputs out "$direct_dir"
    if [ "$direct_dir" = inverted ]; then options=() direct_dir=plain; else options=(-i) direct_dir=inverted; fi
done

else
# The archive as the runs above leave it: five passes more, and the first
# damaged dataset repaired.
"$make_archive" data spare 60 5 >> files.tsv
repaired=$(awk -F'\t' '$5 == "damaged" { print $1; exit }' files.tsv)
cp "spare/${repaired#data/}" "$repaired"
awk -F'\t' -v OFS='\t' -v p="$repaired" '$1 == p { $5 = "intact" } 1' files.tsv > files.new && mv files.new files.tsv
unset "converted[plain/$repaired]"
direct plain
fi

if [ "$part" != 1 ]; then
# 5. Shards: over 1, 3 and 7 of them every dataset is in exactly one, and a
#    dataset stays in its shard as the archive grows.
for n in 1 3 7; do
    rm -f shard-*.json
    for k in $(seq 0 $((n - 1))); do
        batch -q --report "shard-$k.json" --shard "$k/$n" data "sharded-$n" 2> /dev/null
    done
    [ "$(cat shard-*.json | jq -r .path | LC_ALL=C sort)" = "$(datasets)" ] ||
        fail "shards of $n: not every dataset exactly once"
    check_outputs "sharded-$n" plain
    [ "$n" = 3 ] && jq -r .path shard-1.json | LC_ALL=C sort > shard-1-before.txt
done
"$make_archive" data spare 65 20 > more.tsv
batch -q --report shard-1.json --shard 1/3 data sharded-3 2> /dev/null
[ "$(comm -23 shard-1-before.txt <(jq -r .path shard-1.json | LC_ALL=C sort))" = "" ] &&
    [ "$(jq -r .path shard-1.json | grep -c 'pass-[678][0-9]')" -gt 0 ] ||
    fail "shard 1 of 3 lost datasets, or took none of the new ones"
while IFS=$'\t' read -r path _; do rm -f "$path"; done < more.tsv

# 6. A conversion that hangs is killed at the time limit (with what it
#    started), one that crashes is reported, and with --fit the page gets
#    reduced quicklooks.
REAL_TDFTOGIF=$tdftogif "$tdfbatch" -q --tdftogif "$stand_in" --timeout 1 --index --report r6.json \
    data stand-in 2> err.txt
for line in 'pass-03.tdf: time limit of 1 s reached' 'pass-04.tdf: tdftogif killed by signal 11' \
    'pass-05.tdf: status 0: tdftogif ended with status 0 but wrote no image'; do
    grep -q "$line" err.txt || fail "stand-in: no line '$line'"
done
got=$(jq -r 'select(.path | test("pass-0[3457][.]")) | "\(.path | sub(".*/"; "")) \(.status) \(.exit) \(.signal)"' r6.json | LC_ALL=C sort)
[ "$got" = $'pass-03.tdf failed null 9\npass-04.tdf failed null 11\npass-05.tdf failed 0 null\npass-07.tdf converted 0 null' ] ||
    fail "stand-in: exit and signal in the report: $got"
! pgrep -fx "sleep $STAND_IN_SLEEP" > /dev/null || fail "the hanging conversion's child survived"
thumbs=$(find stand-in/.thumbs -name '*.gif' | wc -l)
[ "$thumbs" = $(( $(with_status r6.json converted | wc -l) )) ] || fail "$thumbs reduced quicklooks"
grep -q '"\.thumbs/hesk-14/' stand-in/index.html || fail "the page does not show the reduced quicklooks"

# 7. Quicklooks beside the datasets: a dataset never replaced by a
#    quicklook, two names with one quicklook name; what is not walked.
mkdir beside
cp data/hesk-14/2023/364/pass-00.tdf beside/a.tdf
cp data/hesk-14/2023/364/pass-00.tdf beside/a.gif
cp data/hesk-14/2023/364/pass-00.tdf beside/b.tdf
cp data/hesk-14/2023/364/pass-00.tdf beside/b
batch -q beside beside 2> err.txt
cmp -s beside/a.gif beside/a.tdf || fail "a dataset named a.gif was replaced"
grep -q 'beside/a.tdf: its quicklook beside/a.gif is a dataset; not replaced' err.txt || fail "no line for a.tdf"
grep -q 'beside/b: its quicklook b.gif would be that of b.tdf too' err.txt || fail "no line for b"
cmp -s beside/b.gif "plain/hesk-14/2023/364/pass-00.gif" && [ -e beside/a.gif.gif ] || fail "b.tdf or a.gif not converted"
# Hidden names and an output folder inside the source are passed over.
mkdir -p inside/.hidden
for name in p.tdf .p.tdf .hidden/p.tdf; do cp data/hesk-14/2023/364/pass-00.tdf "inside/$name"; done
batch -q inside inside/gif 2> /dev/null && batch -q inside inside/gif 2> err.txt
grep -Eqx 'tdfbatch: 0 converted, 1 skipped, 0 failed, [0-9.]+ s' err.txt &&
    [ "$(find inside/gif -name '*.gif' | wc -l)" = 1 ] || fail "inside: $(cat err.txt)"
# A report that cannot be written fails even a run with nothing to do; a
# journal line that leads out of the output folder is passed over.
printf '../p.gif\n' > inside/gif/.tdfbatch/journal-0-of-1
touch inside/.p.gif.tdfbatch-part
batch -q --report no/such/r.json inside inside/gif 2> err.txt
[ $? = 1 ] && grep -q '^tdfbatch: no/such/r.json: cannot write the report' err.txt || fail "report not written: $(cat err.txt)"
[ -e inside/.p.gif.tdfbatch-part ] || fail "a journal line outside the output folder was followed"

# 8. Only one run per shard at a time; the progress line only on a terminal.
REAL_TDFTOGIF=$tdftogif "$tdfbatch" -q --tdftogif "$stand_in" --timeout 20 --force data stand-in 2> /dev/null &
first=$!
sleep 0.5
batch -q data stand-in 2> err.txt
[ $? = 1 ] && grep -q 'another tdfbatch run is converting this shard' err.txt || fail "a second run was not refused"
kill -TERM "$first"
wait "$first"
[ $? = 143 ] || fail "SIGTERM: the run did not end by the signal"
[ -z "$(find stand-in -name '*.tdfbatch-part')" ] && ! pgrep -fx "sleep $STAND_IN_SLEEP" > /dev/null || fail "SIGTERM left work behind"
script -qec "'$tdfbatch' --tdftogif '$tdftogif' --force data terminal" /dev/null > tty.txt 2>&1
grep -q $'\r''tdfbatch: [0-9]*/63 done' tty.txt || fail "no progress line on a terminal"
script -qec "'$tdfbatch' -q --tdftogif '$tdftogif' data terminal" /dev/null > tty.txt 2>&1
! grep -q ' done, ' tty.txt || fail "a progress line with -q"

# 9. Usage errors end with 2 and say what is wrong; --help and --version with 0.
while IFS='|' read -r args message; do
    eval "set -- $args"
    "$tdfbatch" "$@" > /dev/null 2> err.txt
    got=$?
    [ "$got" = 2 ] && grep -qF -- "$message" err.txt || fail "tdfbatch $args: status $got, $(head -n 1 err.txt)"
done <<'TABLE'
|give a source and an output folder
data|give a source and an output folder
data out extra|one source and one output folder only
--shard 3/3 data out|invalid shard
--shard 1 data out|invalid shard
-j 0 data out|invalid number of jobs
--timeout x data out|invalid time limit
--bogus data out|--bogus: invalid option
data out -- -o x.gif|tdfbatch names the output itself
data out -- -m|the option needs a value
data out -- input.tdf|not a tdftogif option
files.tsv out|files.tsv: not a folder
TABLE
"$tdfbatch" --help | grep -q -- '--shard K/N' && "$tdfbatch" --version | grep -Eqx 'tdfbatch [0-9.]+' ||
    fail "--help or --version"
# tdftogif's long options with a value pass.
batch -q data under -- --fit 100 --under 0,0,255 -m viridis 2> /dev/null
[ $? = 1 ] && [ -s under/hesk-14/2023/364/pass-00.gif ] || fail "tdftogif's long options refused"

fi

if [ "$failures" != 0 ]; then
    echo "$failures failures"
    exit 1
fi
echo "tdfbatch behaves"
