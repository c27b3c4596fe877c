#!/bin/bash
# output_kill_trials.sh BUILD [N] - tdftogif -o OUT killed with SIGKILL at
# random moments of a large conversion, N times (default 100).  Even trials
# start with an earlier GIF under OUT, odd ones with none; every other pair
# is killed within the last fifth of the run (writing the GIF, putting it in
# place), the others anywhere.  After each kill
# OUT must hold the earlier GIF, the complete new one, or (without an
# earlier one) nothing, and no other file may be in the folder.  Prints the
# counts; exits 1 if any trial broke that.  Not run by ctest: 100 trials of
# a 3000 x 4000 scene take about a minute.
set -eu
build=${1:-build}
n=${2:-100}
bin=$build/converter/tdftogif
sample=$build/tools/writer/make_sample
for b in "$bin" "$sample"; do
    [ -x "$b" ] || { echo "output_kill_trials: $b not built" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

options=(-1 255,255,255 -2 dyn -s -u)
"$sample" "$work/scene.tdf" 3000 4000
"$bin" -m prism -o "$work/old.gif" "$work/scene.tdf"
"$bin" "${options[@]}" -o "$work/new.gif" "$work/scene.tdf"

# The length of one whole run; kills fall within 1.1 times that.
start=$(date +%s%N)
"$bin" "${options[@]}" -o "$work/timed.gif" "$work/scene.tdf"
run_ns=$(( $(date +%s%N) - start ))
echo "one conversion: $(awk -v t="$run_ns" 'BEGIN { printf "%.3f", t / 1e9 }') s, GIF $(stat -c %s "$work/new.gif") bytes"

killed=0 finished=0 old=0 new=0 none=0 broken=0 left=0
for trial in $(seq 1 "$n"); do
    folder=$work/t$trial
    mkdir "$folder"
    earlier=$(( trial % 2 == 0 ))
    [ "$earlier" = 1 ] && cp "$work/old.gif" "$folder/q.gif"
    from=$(( trial / 2 % 2 == 0 ? 0 : 8 ))   # tenths of the run
    delay=$(awk -v t="$run_ns" -v f="$from" -v a="$RANDOM" -v b="$RANDOM" \
        'BEGIN { printf "%.4f", (f / 10 + (a * 32768 + b) / 1073741824 * (1.1 - f / 10)) * t / 1e9 }')
    "$bin" "${options[@]}" -o "$folder/q.gif" "$work/scene.tdf" &
    pid=$!
    sleep "$delay"
    kill -KILL "$pid" 2>/dev/null || true
    status=0
    { wait "$pid"; } 2>/dev/null || status=$?
    if [ "$status" = 137 ]; then killed=$((killed + 1)); elif [ "$status" = 0 ]; then finished=$((finished + 1)); else
        echo "trial $trial: status $status" >&2; broken=$((broken + 1)); fi

    if [ ! -e "$folder/q.gif" ]; then
        if [ "$earlier" = 1 ] || [ "$status" = 0 ]; then
            echo "trial $trial: q.gif missing" >&2; broken=$((broken + 1))
        else none=$((none + 1)); fi
    elif cmp -s "$folder/q.gif" "$work/new.gif"; then new=$((new + 1))
    elif [ "$earlier" = 1 ] && [ "$status" != 0 ] && cmp -s "$folder/q.gif" "$work/old.gif"; then old=$((old + 1))
    else echo "trial $trial: q.gif is neither GIF ($(stat -c %s "$folder/q.gif") bytes)" >&2; broken=$((broken + 1)); fi

    for f in "$folder"/.[!.]* "$folder"/*; do
        [ -e "$f" ] || continue
        [ "$f" = "$folder/q.gif" ] && continue
        left=$((left + 1))
        echo "trial $trial: left behind: $(basename "$f") ($(stat -c %s "$f") bytes)" >&2
    done
    rm -rf "$folder"
done

echo "$n trials: $killed killed, $finished finished before the kill;" \
     "q.gif held the earlier GIF $old times, the complete new GIF $new times, nothing $none times" \
     "(no earlier GIF); $broken broken; $left files left behind"
[ "$broken" = 0 ] && [ "$left" = 0 ]
