#!/bin/bash
# recipes_test.sh - runs the batch recipes of docs/batch.md as they stand
# there: choosing datasets with tdfinfo -j and jq, and tdfbatch in shards
# with GNU parallel on this machine (":") and on stand-in ssh hosts sharing
# its file system, and under a stand-in Slurm sbatch, over an archive of 60
# files made by the writer (3 damaged datasets, 2 files that are none).
#
# Checks: every intact dataset gets its GIF, byte for byte the one a direct
# run writes; every damaged one is reported once, with the status a direct
# run ends with, and has no GIF; the page holds every dataset; run again
# after a repair, only the repaired dataset is converted.
#
# Usage: recipes_test.sh DOC TDFTOGIF TDFINFO MAKE_ARCHIVE TDFBATCH
set -uo pipefail

doc=$1
here=$(cd "$(dirname "$0")" && pwd)
for tool in parallel jq; do
    command -v "$tool" > /dev/null || { echo "$tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/home/.parallel"
ln -s "$2" "$work/bin/tdftogif"
ln -s "$3" "$work/bin/tdfinfo"
ln -s "$5" "$work/bin/tdfbatch"
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

# The fenced block that follows "<!-- batch: NAME -->" in DOC.
block() {
    local text
    text=$(awk -v marker="<!-- batch: $1 -->" '
        $0 == marker { found = 1; next }
        found == 1 && /^```/ { found = 2; next }
        found == 2 && /^```/ { exit }
        found == 2 { print }' "$doc")
    [ -n "$text" ] || { echo "no block \"$1\" in $doc" >&2; exit 1; }
    printf '%s\n' "$text"
}

# The archive, the intact form of its damaged datasets, and direct runs:
# status[path] and the GIF a conversion must write, under direct/.
cd "$work" || exit 1
"$4" data spare > files.tsv || { echo "make_archive failed"; exit 1; }
gif_of() { local p=${1#data/}; [[ $p == *.tdf ]] && echo "${p%.tdf}.gif" || echo "$p.gif"; }
declare -A status
while IFS=$'\t' read -r path _ _ _ state; do
    [ "$state" = other ] && continue
    mkdir -p "direct/$(dirname "$(gif_of "$path")")"
    tdftogif -o "direct/$(gif_of "$path")" "$path" 2> /dev/null
    status[$path]=$?
    [ "$state" = damaged ] && [ "${status[$path]}" = 0 ] && fail "$path: a damaged dataset converts"
    [ "$state" = intact ] && [ "${status[$path]}" != 0 ] && fail "$path: an intact dataset fails"
done < files.tsv
[ "${#status[@]}" = 58 ] || fail "expected 58 datasets, found ${#status[@]}"

# The quicklooks in quicklooks/ and the reports in REPORTS...: every
# dataset reported exactly once, with its direct status; the GIFs those of
# the direct runs; the page has a card for every dataset.
check_run() {
    local reports=("$@") path got
    got=$(cat "${reports[@]}" | jq -r '"\(.path)\t\(.exit)"' | LC_ALL=C sort)
    [ "$got" = "$(for path in "${!status[@]}"; do printf '%s\t%s\n' "$path" "${status[$path]}"; done |
                  LC_ALL=C sort)" ] || fail "$PWD: reports do not hold every dataset once with its status"
    for path in "${!status[@]}"; do
        if [ "${status[$path]}" = 0 ]; then
            cmp -s "quicklooks/$(gif_of "$path")" "$work/direct/$(gif_of "$path")" ||
                fail "$PWD: $(gif_of "$path") missing or not as a direct run writes it"
        elif [ -e "quicklooks/$(gif_of "$path")" ]; then
            fail "$PWD: a GIF of the failing $path"
        fi
    done
    [ "$(grep -o '^\["[^"]*"' quicklooks/index.html | wc -l)" = 58 ] || fail "$PWD: the page misses datasets"
}

# A repair, then the same recipe again: only the repaired dataset converts.
repair_and_rerun() {
    local recipe=$1 repaired
    shift
    repaired=$(awk -F'\t' '$5 == "damaged" { print $1; exit }' "$work/files.tsv")
    cp "$work/spare/${repaired#data/}" "$repaired"
    bash -c "$recipe" > /dev/null 2>&1
    [ "$(cat "$@" | jq -r 'select(.status == "converted") | .path')" = "$repaired" ] ||
        fail "$PWD: after repairing $repaired, converted: $(cat "$@" | jq -r 'select(.status == "converted") | .path')"
}

# Choosing datasets: what the writer put in the headers, the unreadable named.
mkdir select && cd select && cp -a ../data data
bash -c "$(block select)" || fail "select: the block failed"
want=$(awk -F'\t' '$1 ~ /\.tdf$/ && $2 == "hesk-14" && $3 == "infrared" && $4 >= 2024060 && $4 <= 2024091 { print $1 }' \
       "$work/files.tsv" | LC_ALL=C sort)
[ "$(wc -l <<< "$want")" -ge 3 ] || fail "select: too few datasets to choose from"
[ "$(cat list.txt)" = "$want" ] || fail "select: chose $(cat list.txt) instead of $want"
for path in $(awk -F'\t' '$2 == "-" && $1 ~ /\.tdf$/ { print $1 }' "$work/files.tsv"); do
    grep -qF "$path" unreadable.txt || fail "select: $path not named as unreadable"
done

# tdfbatch in shards with GNU parallel, here and on two ssh hosts.
for hosts in ":" "node1\nnode2"; do
    mkdir -p "$work/shared-${#hosts}" && cd "$work/shared-${#hosts}" || exit 1
    cp -a ../data data
    printf '%b\n' "$hosts" > nodes.txt
    out=$(bash -c "$(block shared)" 2> stderr.txt)
    grep -qx 'shards with failures: [1-3]' <<< "$out" || fail "$PWD: $out"
    check_run reports/*.json
    [ "$(find "$FAKE_SSH_ROOT" -type f 2> /dev/null | wc -l)" = 0 ] || fail "$PWD: files left on the hosts"
    if [ "$hosts" != ":" ] && ! { [ -d "$FAKE_SSH_ROOT/node1" ] && [ -d "$FAKE_SSH_ROOT/node2" ]; }; then
        fail "$PWD: the shards did not run on both ssh hosts"
    fi
    repair_and_rerun "$(block shared)" reports/*.json
done

# The Slurm job script, submitted as an array, one task per shard.
mkdir "$work/slurm" && cd "$work/slurm" || exit 1
cp -a ../data data
block nightly-shard.sh > nightly-shard.sh
: > "$FAKE_SBATCH_LOG"
bash -c "$(block submit)" > /dev/null || fail "submit: the block failed"
[ "$(cat "$FAKE_SBATCH_LOG")" = "--array=0-15 nightly-shard.sh 16" ] || fail "submit: submitted $(cat "$FAKE_SBATCH_LOG")"
check_run logs/shard-*.json
[ "$(grep -l . logs/shard-*.json | wc -l)" -gt 8 ] || fail "slurm: the datasets are not spread over the shards"
repair_and_rerun "$(block submit)" logs/shard-*.json

if [ "$failures" != 0 ]; then
    echo "$failures failures"
    exit 1
fi
echo "all batch recipes behave"
