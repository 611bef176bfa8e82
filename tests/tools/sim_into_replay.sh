#!/usr/bin/env bash
# The real executables end to end: meter-sim's output piped into frame-replay,
# serial and USB, and a capture file read back.
set -euo pipefail
sim="$1"
replay="$2"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

"$sim" --count 500 --rate 0 --scenario tour | "$replay" >"$tmp/serial.out" 2>"$tmp/serial.err"
grep -qx 'frames: 500 decoded: 499 dropped: 1' "$tmp/serial.err"   # the first frame has no line feed before it
[ "$(wc -l <"$tmp/serial.out")" -eq 499 ]

"$sim" --count 500 --rate 0 --scenario tour --hid | "$replay" --hid >"$tmp/hid.out" 2>"$tmp/hid.err"
grep -qx 'frames: 500 decoded: 500 dropped: 0' "$tmp/hid.err"
# The USB path decodes the same frames as the serial path.
diff <(tail -n 499 "$tmp/hid.out") "$tmp/serial.out"

"$sim" --count 100 --rate 0 --scenario dcv --out "$tmp/capture.bin"
[ "$(stat -c %s "$tmp/capture.bin")" -eq 1400 ]
"$replay" --quiet "$tmp/capture.bin" 2>"$tmp/file.err" >"$tmp/file.out"
grep -qx 'frames: 100 decoded: 99 dropped: 1' "$tmp/file.err"
[ ! -s "$tmp/file.out" ]

if "$replay" "$tmp/missing.bin" 2>"$tmp/missing.err"; then
    echo "a missing file must fail"; exit 1
else
    [ $? -eq 2 ]
fi
grep -q 'missing.bin' "$tmp/missing.err"

# Paced output: 10 frames at 50 per second take about 0.2 s.
start=$(date +%s%N)
"$sim" --count 10 --rate 50 >/dev/null
elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
[ "$elapsed_ms" -ge 150 ]
echo "sim_into_replay: ok"
