#!/bin/bash
# recipes_test.sh - runs the batch recipes of the README's "Many machines"
# section as they stand there, with GNU parallel on this machine (":") and
# on stand-in ssh hosts, and the Slurm job script under a stand-in sbatch,
# over an archive of 40 datasets made by the writer, four of them damaged.
#
# Checks: every intact dataset gets its GIF, byte for byte the one a direct
# run writes; every damaged one is in the job log with the status a direct
# run ends with and leaves no GIF and no temporary file; run again after a
# repair, only the failed runs run; each array task converts exactly its
# chunk of the list; only the chunks that are not done are submitted again.
#
# Usage: recipes_test.sh README TDFTOGIF TDFINFO MAKE_ARCHIVE
set -uo pipefail

readme=$1
here=$(cd "$(dirname "$0")" && pwd)
for tool in parallel jq rsync; do
    command -v "$tool" > /dev/null || { echo "$tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/home/.parallel"
ln -s "$2" "$work/bin/tdftogif"
ln -s "$3" "$work/bin/tdfinfo"
cp "$here/fake_sbatch.sh" "$work/bin/sbatch"
cp "$here/fake_ssh.sh" "$work/bin/fake-ssh"
chmod +x "$work/bin/sbatch" "$work/bin/fake-ssh"
touch "$work/home/.parallel/will-cite"
export HOME="$work/home" PATH="$work/bin:$PATH"
export PARALLEL_SSH="$work/bin/fake-ssh" FAKE_SSH_ROOT="$work/remote" FAKE_SBATCH_LOG="$work/sbatch.log"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The fenced block that follows "<!-- batch: NAME -->" in the README.
block() {
    local text
    text=$(awk -v marker="<!-- batch: $1 -->" '
        $0 == marker { found = 1; next }
        found == 1 && /^```/ { found = 2; next }
        found == 2 && /^```/ { exit }
        found == 2 { print }' "$readme")
    [ -n "$text" ] || { echo "no block \"$1\" in $readme" >&2; exit 1; }
    printf '%s\n' "$text"
}

# A block with its chunk size made small enough for 40 datasets.
small_chunks() {
    local text
    text=$(block "$1")
    [ "$(grep -c '^size=500$' <<< "$text")" = 1 ] || { echo "block $1: no size=500 line" >&2; exit 1; }
    sed 's/^size=500$/size=7/' <<< "$text"
}

# The archive, the intact form of its damaged datasets, and direct runs of
# both: status[path] and expected[path], the GIF a conversion must write.
cd "$work" || exit 1
"$4" data spare > manifest.tsv || { echo "make_archive failed"; exit 1; }
declare -A status expected damaged
while IFS=$'\t' read -r path _ _ _ state; do
    mkdir -p "direct/$(dirname "$path")" "direct-spare/$(dirname "$path")"
    tdftogif -o "direct/${path%.tdf}.gif" "$path" 2> /dev/null
    status[$path]=$?
    expected[$path]=$work/direct/${path%.tdf}.gif
    if [ "$state" = damaged ]; then
        damaged[$path]=1
        [ "${status[$path]}" != 0 ] || fail "$path: a damaged dataset converts"
        tdftogif -o "direct-spare/${path%.tdf}.gif" "spare/${path#data/}" ||
            fail "$path: the intact form does not convert"
    else
        [ "${status[$path]}" = 0 ] || fail "$path: an intact dataset fails with ${status[$path]}"
    fi
done < manifest.tsv
[ "${#damaged[@]}" = 4 ] || fail "expected 4 damaged datasets, found ${#damaged[@]}"

# A scratch copy of the archive for one recipe; the list of all datasets.
fresh() {
    mkdir -p "$work/$1"
    cd "$work/$1" || exit 1
    cp -a "$work/data" data
    bash -c "$(block list)" || fail "$1: the list block failed"
    [ "$(wc -l < list.txt)" = 40 ] || fail "$1: the list holds $(wc -l < list.txt) datasets"
}

# Status of the last run of line $2 of the list in job log $1.
logged_status() {
    awk -F'\t' -v seq="$2" '$1 == seq { e = $7 } END { print e }' "$1"
}

# Every dataset of lines $3.. of list $1 (all when absent, $4 lines) is
# converted as a direct run converts it, or is in job log $2, numbered from
# the first line, with its status; nothing else is left beside them.
check_outputs() {
    local list=$1 log=$2 first=${3:-1} count=${4:-1000000} n=0 path gif
    while IFS= read -r path; do
        n=$((n + 1))
        [ "$n" -ge "$first" ] && [ "$n" -lt $((first + count)) ] || continue
        gif=${path%.tdf}.gif
        if [ "${status[$path]}" = 0 ]; then
            cmp -s "$gif" "${expected[$path]}" || fail "$PWD: $gif missing or not as a direct run writes it"
            [ "$(logged_status "$log" $((n - first + 1)))" = 0 ] || fail "$PWD: $path not logged as converted"
        else
            [ ! -e "$gif" ] || fail "$PWD: a GIF of the failing $path"
            [ "$(logged_status "$log" $((n - first + 1)))" = "${status[$path]}" ] ||
                fail "$PWD: $path not logged with status ${status[$path]}"
        fi
    done < "$list"
    local stray
    stray=$(find data -type f ! -name '*.tdf' ! -name '*.gif')
    [ -z "$stray" ] || fail "$PWD: files left behind: $stray"
}

# Inode numbers of every GIF, to tell a GIF written again from one left alone.
gif_inodes() {
    find data -name '*.gif' -exec stat -c '%i %n' {} + | LC_ALL=C sort
}

# Repairs the first damaged dataset of the list; prints its path.
repair_first() {
    local path
    while IFS= read -r path; do
        if [ -n "${damaged[$path]:-}" ] && [ "${status[$path]}" != 0 ]; then
            cp "$work/spare/${path#data/}" "$path"
            printf '%s\n' "$path"
            return
        fi
    done < list.txt
}

# One GNU parallel recipe on the hosts of nodes.txt, then again after a repair.
parallel_recipe() {
    local name=$1 hosts=$2 out before after repaired
    fresh "$name-${hosts//[^a-z0-9]/}"
    printf '%b' "$hosts" > nodes.txt
    out=$(bash -c "$(block convert)
$(block "$name")" 2> stderr.txt)
    grep -qx 'failed runs: 4' <<< "$out" || fail "$PWD: not 4 failed runs: $out"
    check_outputs list.txt convert.log
    [ "$(find "$FAKE_SSH_ROOT" -type f 2> /dev/null | wc -l)" = 0 ] || fail "$PWD: files left on the hosts"
    if [ "$hosts" != ":" ]; then
        awk -F'\t' 'NR > 1 && $2 !~ /^node[12]$/ { bad = 1 } END { exit bad }' convert.log ||
            fail "$PWD: runs not on the ssh hosts"
    fi

    before=$(gif_inodes)
    repaired=$(repair_first)
    out=$(bash -c "$(block convert)
$(block "$name")" 2>> stderr.txt)
    grep -qx 'failed runs: 3' <<< "$out" || fail "$PWD: not 3 failed runs after a repair: $out"
    [ "$(wc -l < convert.log)" = $((1 + 40 + 4)) ] || fail "$PWD: the second run did not run the 4 failed only"
    after=$(gif_inodes)
    [ "$(comm -23 <(echo "$before") <(echo "$after"))" = "" ] || fail "$PWD: converted GIFs written again"
    local old_status=${status[$repaired]}
    status[$repaired]=0
    expected[$repaired]=$work/direct-spare/${repaired%.tdf}.gif
    check_outputs list.txt convert.log
    status[$repaired]=$old_status
    expected[$repaired]=$work/direct/${repaired%.tdf}.gif
}

parallel_recipe shared ":"
parallel_recipe transfer "2/node1\n2/node2"
parallel_recipe transfer ":"

# Choosing datasets: what the manifest says matches, the unreadable named.
fresh select
bash -c "$(block select)" || fail "select: the block failed"
want=$(awk -F'\t' '$2 == "hesk-14" && $3 == "infrared" && $4 >= 2024060 && $4 <= 2024091 { print $1 }' \
       "$work/manifest.tsv" | LC_ALL=C sort)
[ "$(wc -l <<< "$want")" -ge 3 ] || fail "select: too few datasets to choose from"
[ "$(cat list.txt)" = "$want" ] || fail "select: chose $(cat list.txt) instead of $want"
for path in $(awk -F'\t' '$2 == "-" { print $1 }' "$work/manifest.tsv"); do
    grep -qF "$path" unreadable.txt || fail "select: $path not named as unreadable"
done

# The job script, one array index at a time: each converts its chunk, the
# seven lines from index x 7 + 1, and ends with its number of failures.
fresh slurm-tasks
block convert-chunk.sh > convert-chunk.sh
mkdir logs
for i in 0 1 2 3 4 5 6; do
    before=$(find data -name '*.gif' | LC_ALL=C sort)
    SLURM_ARRAY_TASK_ID=$i SLURM_CPUS_PER_TASK=2 bash convert-chunk.sh list.txt 7 > /dev/null 2>&1
    got=$?
    made=$(comm -13 <(echo "$before") <(find data -name '*.gif' | LC_ALL=C sort))
    want=$(sed -n "$((i * 7 + 1)),$((i * 7 + 7))p" list.txt | while IFS= read -r path; do
        [ "${status[$path]}" = 0 ] && printf '%s\n' "${path%.tdf}.gif"; done | LC_ALL=C sort)
    [ "$made" = "$want" ] || fail "task $i converted [$made] instead of [$want]"
    failed=$(sed -n "$((i * 7 + 1)),$((i * 7 + 7))p" list.txt | while IFS= read -r path; do
        [ "${status[$path]}" = 0 ] || echo; done | wc -l)
    [ "$got" = "$failed" ] || fail "task $i ended with $got, not its $failed failures"
    check_outputs list.txt "logs/chunk-$i.log" $((i * 7 + 1)) 7
    [ "$(awk 'NR > 1' "logs/chunk-$i.log" | wc -l)" = "$(sed -n "$((i * 7 + 1)),$((i * 7 + 7))p" list.txt | wc -l)" ] ||
        fail "task $i: its job log does not hold one run per line of its chunk"
done

# Submission through sbatch, and the resubmission of the chunks not done.
fresh slurm-array
block convert-chunk.sh > convert-chunk.sh
: > "$FAKE_SBATCH_LOG"
bash -c "$(small_chunks submit)" > /dev/null || fail "submit: the block failed"
[ "$(cat "$FAKE_SBATCH_LOG")" = "--array=0-5%50 convert-chunk.sh list.txt 7" ] ||
    fail "submit: submitted $(cat "$FAKE_SBATCH_LOG")"
for i in 0 1 2 3 4 5; do
    check_outputs list.txt "logs/chunk-$i.log" $((i * 7 + 1)) 7
done
# Chunks that hold a damaged dataset, and chunk 2 as if its node had failed.
repaired=$(repair_first)
rm logs/chunk-2.log
want=$(n=0; while IFS= read -r path; do
    n=$((n + 1)); [ "${status[$path]}" = 0 ] || echo $(((n - 1) / 7)); done < list.txt; echo 2)
want=$(sort -nu <<< "$want" | paste -sd, -)
: > "$FAKE_SBATCH_LOG"
bash -c "$(small_chunks rerun)" > /dev/null || fail "rerun: the block failed"
[ "$(cat "$FAKE_SBATCH_LOG")" = "--array=$want convert-chunk.sh list.txt 7" ] ||
    fail "rerun: submitted [$(cat "$FAKE_SBATCH_LOG")] instead of chunks $want"
cmp -s "${repaired%.tdf}.gif" "$work/direct-spare/${repaired%.tdf}.gif" || fail "rerun: $repaired not converted"
: > "$FAKE_SBATCH_LOG"
bash -c "$(small_chunks rerun)" > /dev/null
left=$(n=0; while IFS= read -r path; do
    n=$((n + 1)); [ "${status[$path]}" = 0 ] || [ "$path" = "$repaired" ] || echo $(((n - 1) / 7)); done < list.txt |
    sort -nu | paste -sd, -)
[ "$(cat "$FAKE_SBATCH_LOG")" = "--array=$left convert-chunk.sh list.txt 7" ] ||
    fail "rerun: submitted [$(cat "$FAKE_SBATCH_LOG")] again instead of chunks $left"

if [ "$failures" != 0 ]; then
    echo "$failures failures"
    exit 1
fi
echo "all batch recipes behave"
