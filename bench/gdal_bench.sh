#!/bin/sh
# The GDAL plugin's benchmark (part of make bench): gdal_translate -of GTiff
# of a 4096 x 4096 infrared dataset stored plain and compressed, against
# the same command on the same values as a raw Float32 ENVI file (GDAL's own
# raw driver), run in turn, REPS times each; prints the medians and their
# ratios to the raw file.  Skipped when GDAL's plugin is not built.
#
# Usage: gdal_bench.sh BENCH_BUILD_DIR [REPS]
set -eu

build=$1
reps=${2:-7}
size=4096
work="$build/bench-data/gdal"

if ! command -v gdal_translate >/dev/null 2>&1 ||
    ! cmake --build "$build" --target gdal_Tidewell tdbench_make_dataset tdbench_gdal_threads \
        >"$build/gdal_bench_build.log" 2>&1; then
    echo "gdal_bench: skipped (no gdal_translate, or the GDAL plugin is not built; see $build/gdal_bench_build.log)"
    exit 0
fi
export GDAL_DRIVER_PATH="$build/gdalplugins"
mkdir -p "$work"
for storage in plain compressed; do
    [ -f "$work/$storage.tdf" ] ||
        "$build/bench/tdbench_make_dataset" "$work/$storage.tdf" $size $size $storage
done
[ -f "$work/raw.img" ] || gdal_translate -q -of ENVI "TIDEWELL:\"$work/plain.tdf\":avhrr_ch4" "$work/raw.img"

now() { date +%s.%N; }
# A dataset with graphics planes opens in GDAL as a container of two
# subdatasets; the data variable is the first.
gdal_name() {
    case $1 in
        *.tdf) echo "TIDEWELL:\"$work/$1\":avhrr_ch4" ;;
        *) echo "$work/$1" ;;
    esac
}
: >"$work/times"
for rep in $(seq "$reps"); do
    for input in raw.img plain.tdf compressed.tdf; do
        rm -f "$work/out.tif"
        start=$(now)
        gdal_translate -q -of GTiff "$(gdal_name "$input")" "$work/out.tif"
        end=$(now)
        echo "$input $start $end" >>"$work/times"
        [ "$rep" -gt 1 ] || gdalinfo -checksum "$work/out.tif" | sed -n 's/.*Checksum=/checksum /p' >"$work/$input.sum"
    done
done
cmp -s "$work/raw.img.sum" "$work/plain.tdf.sum" && cmp -s "$work/raw.img.sum" "$work/compressed.tdf.sum" ||
    { echo "gdal_bench: the three GeoTIFFs differ" >&2; exit 1; }

median() {
    awk -v f="$1" '$1 == f { print $3 - $2 }' "$work/times" | sort -g |
        awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
raw=$(median raw.img)
echo
echo "gdal_translate -of GTiff, $size x $size Float32, median of $reps runs (same pixels in all three)"
printf '%-28s %10s %12s %6s\n' "input" "seconds" "vs raw ENVI" "goal"
printf '%-28s %10.3f %12s %6s\n' "raw Float32 ENVI" "$raw" "1.00" ""
for row in "plain.tdf|Tidewell plain|1.3" "compressed.tdf|Tidewell compressed|1.6"; do
    file=${row%%|*}; rest=${row#*|}; label=${rest%|*}; goal=${rest#*|}
    t=$(median "$file")
    printf '%-28s %10.3f %12.2f %6s\n' "$label" "$t" "$(echo "$t $raw" | awk '{ print $1 / $2 }')" "$goal"
done

# Two datasets of the same form read whole, by one thread in turn and by
# two threads at once: the library serialises only the calls on one
# dataset, so on two cores the two threads should take about half the time.
for storage in plain compressed; do
    [ -f "$work/$storage-2.tdf" ] || cp "$work/$storage.tdf" "$work/$storage-2.tdf"
done
echo
echo "GDAL reading two $size x $size datasets whole (gdal_translate's read path), one thread after the"
echo "other against two threads at once; median of $reps runs (goal <= 0.65, the limit on 2 cores 0.5)"
printf '%-28s %10s %10s %8s %6s\n' "datasets" "1 thread s" "2 threads s" "ratio" "goal"
for storage in plain compressed; do
    line=$("$build/bench/tdbench_gdal_threads" "$reps" "$(gdal_name "$storage.tdf")" "$(gdal_name "$storage-2.tdf")")
    serial=$(echo "$line" | sed -n 's/.*serial=\([^ ]*\).*/\1/p')
    parallel=$(echo "$line" | sed -n 's/.*parallel=\([^ ]*\).*/\1/p')
    ratio=$(echo "$line" | sed -n 's/.*ratio=\([^ ]*\).*/\1/p')
    printf '%-28s %10.3f %10.3f %8.3f %6s\n' "2 x Tidewell $storage" "$serial" "$parallel" "$ratio" "0.65"
done
