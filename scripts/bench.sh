#!/usr/bin/env bash
# Runs every benchmark briefly on a Release build and prints one table of the
# current figures with the goals beside them, in Markdown (docs/performance.md
# is made from it). Takes about five minutes; nothing else should run
# meanwhile, as the CPU shares are a few per cent of a core.
#
#   ./scripts/bench.sh                  # builds build-release/ first
#   VOLTARO_BENCH_BUILD=DIR ./scripts/bench.sh   # another Release tree
#   VOLTARO_BENCH_ROWS=2000000 ./scripts/bench.sh # a shorter recording_scale
#
# The day soak (`soak serial --day`, over an hour) is not run here.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
release="${VOLTARO_BENCH_BUILD:-$VOLTARO_ROOT/build-release}"
if [ -z "${VOLTARO_BENCH_BUILD:-}" ]; then
    voltaro_install_packages
    voltaro_configure "$release" -DCMAKE_BUILD_TYPE=Release -DVOLTARO_BUILD_TESTS=OFF >/dev/null
    cmake --build "$release" -j2 >/dev/null
fi
export QT_QPA_PLATFORM=offscreen
rows="${VOLTARO_BENCH_ROWS:-10000000}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
b="$release/bench"
t="$release/tools"

table=()
row() { table+=("| $1 | $2 | $3 |"); }
# Whether a benchmark program is there (an older tree may lack some): has NAME
has() { [ -x "$b/$1" ] || { echo "  ($1 not built: its rows are left out)" >&2; false; }; }
# The number after WORD in the first line of TEXT that has one: after TEXT WORD
after() { sed -n "s/.*$2 \([0-9][0-9.]*\).*/\1/p" <<<"$1" | head -n 1; }
# A field of the first benchmark whose name starts with NAME in a JSON
# report, formatted: json_field FILE NAME FIELD FORMAT
json_field() {
    python3 -c 'import json, sys
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b["name"].startswith(sys.argv[2]):
        print(sys.argv[4] % b[sys.argv[3]]); break' "$@"
}
# The median of the numbers given.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# CPU share of a link_load mode, the median of three runs of SECONDS each.
link_cpu() {
    local runs=()
    for _ in 1 2 3; do
        runs+=("$(after "$("$b/link_load" "$1" "$2" 2>/dev/null)" '=')")
    done
    echo "$(median "${runs[@]}") % of a core (runs: ${runs[*]})"
}

echo "Decoding ..." >&2
"$t/meter-sim" --count 1000000 --rate 0 --scenario tour --out "$work/capture.bin" 2>/dev/null
runs=()
for _ in 1 2 3 4 5; do
    /usr/bin/time -f "%e" -o "$work/time" "$t/frame-replay" --quiet "$work/capture.bin" >/dev/null 2>&1
    runs+=("$(cat "$work/time")")
done
s=$(median "${runs[@]}")
row "decoding, \`frame-replay --quiet\`, 1 M frames (median of 5)" \
    "$(awk -v s="$s" 'BEGIN { printf "%.1f M frames/s (%.3f s)", 1 / s, s }')" "at least 6 M frames/s"

echo "Data files ..." >&2
if has bench_data_files; then
    "$b/bench_data_files" --benchmark_filter='BM_(Save|Load)/' --benchmark_format=json \
        --benchmark_out="$work/files.json" >/dev/null 2>&1
    seconds() { json_field "$work/files.json" "$1" real_time '%.3f'; }
    row "save 1 M rows, text table" "$(seconds 'BM_Save/text') s" "at most 0.4 s"
    row "save 1 M rows, XML data packet" "$(seconds 'BM_Save/xml') s" "under 0.8 s"
    row "load 1 M rows, text table" "$(seconds 'BM_Load/text') s" "under 0.4 s"
    row "load 1 M rows, XML data packet" "$(seconds 'BM_Load/xml') s" "under 1.0 s"
fi

echo "The window with $rows rows ..." >&2
scale=$("$b/recording_scale" "$rows" 10 2>/dev/null)
row "memory at $rows rows with their chart points" \
    "$(after "$scale" '=') bytes a row ($(after "$scale" 'program') MiB)" "at most 45 bytes a row at 10 M rows"
row "recording on with that table at the line's rate, CPU" "$(after "$scale" 'CPU') % of a core" ""

echo "The window at the line's rate ..." >&2
row "window CPU at the line's rate, serial (3 x 20 s, median)" "$(link_cpu cpu 20)" "under 2.0 %"
row "window CPU at the line's rate, USB (3 x 20 s, median)" "$(link_cpu usb-cpu 20)" "under 2.5 %"
out=$("$b/link_load" latency 100 2>/dev/null)
row "serial latency, frame to painted LCD, median / p95" \
    "$(after "$out" 'median') / $(after "$out" 'percentile') ms" ""
out=$("$b/link_load" usb-latency 100 2>/dev/null)
row "USB latency, report to painted LCD, median / p95" \
    "$(after "$out" 'median') / $(after "$out" 'percentile') ms" "median under 60 ms"

echo "voltaro-log ..." >&2
has log_load && for kind in text xml mqtt; do
    arg=()
    [ "$kind" != text ] && arg=("$kind")
    out=$("$b/log_load" 20 "${arg[@]}" 2>/dev/null)
    what="writing a $kind file"
    [ "$kind" = mqtt ] && what="writing a text file and publishing to MQTT"
    row "voltaro-log $what at the line's rate (20 s)" \
        "$(after "$out" '=') % of a core, peak $(after "$out" 'peak RSS') KiB" ""
done

if has meters_load; then
    out=$("$b/meters_load" 20 2>/dev/null)
    row "voltaro-log with two meters at the line's rate and \`--calc\`, CPU over one named meter's (20 s runs)" \
        "x $(after "$out" 'CPU x')" "at most x 2"
fi

if has scpi_fetch; then
    out=$("$b/scpi_fetch" 2000 2>/dev/null)
    row "SCPI \`FETC?\` answer time while recording at the line's rate, median / p95 (2,000 queries)" \
        "$(after "$out" 'median') / $(after "$out" 'p95') ms" "under 5 ms"
fi

echo "The pipeline, the HID stack, the journal, the start ..." >&2
if has bench_pipeline; then
    "$b/bench_pipeline" --benchmark_min_time=0.3 --benchmark_format=json \
        --benchmark_out="$work/pipeline.json" >/dev/null 2>&1
    row "pipeline alone, serial \`tour\`" \
        "$(json_field "$work/pipeline.json" BM_SerialPipeline/tour items_per_second '%.0f' |
            awk '{ printf "%.2f M frames/s", $1 / 1e6 }')" ""
fi
if has hid_load; then
    out=$("$b/hid_load" 5 2>/dev/null)
    row "HID stack at 1,000 reports a second, CPU" "$(after "$(grep '^CPU at' <<<"$out")" '):') % of a core" ""
fi
if has journal_stall; then
    out=$("$b/journal_stall" 5 500 2>/dev/null)
    row "journal on a disk taking 500 ms a sync: queueing a row, p99" "$(after "$out" 'p99') µs" ""
fi
if has startup_time; then
    out=$("$b/startup_time" 2>&1 >/dev/null)
    row "start-up to the first paint (offscreen)" "$(after "$out" 'paint:') ms" ""
fi

echo
echo "| Figure (Release build, $(nproc) cores, $(date +%F)) | Now | Goal |"
echo "| --- | --- | --- |"
printf '%s\n' "${table[@]}"
