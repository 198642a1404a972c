#!/usr/bin/env bash
# End-to-end streaming benchmark on a virtual 1080p desktop: the engine
# (X11 capture -> x264 ultrafast -> UDP) against ffmpeg (x11grab -> libx264
# ultrafast zerolatency -> MPEG-TS over UDP), same picture, size, rate and
# bitrate, one after the other. Prints each side's sustained frame rate, CPU
# use, latency figures, and the CPU ratio ours/ffmpeg. Aims: 60 fps held,
# CPU at most 0.65 of ffmpeg's, capture-to-sent p50 under 12 ms.
#
#   scripts/stream-bench.sh [seconds]        (default 10)
# Figures and logs go to build/stream-bench/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-10}
size=1920x1080
fps=60
mbps=20
out=$PWD/build/stream-bench
bin=$PWD/build/linux-release/bin
mkdir -p "$out"

bash scripts/deps.sh >/dev/null
[ -f build/linux-release/CMakeCache.txt ] || cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target zel-engine-host zel-receiver zel-test-pattern zel-ts-latency >/dev/null

pids=()
# Stopped newest first, so the X server goes after its clients.
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
}
trap cleanup EXIT

for n in $(seq 60 90); do [ -e "/tmp/.X11-unix/X$n" ] || break; done
Xvfb ":$n" -noreset -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$n"
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
"$bin/zel-test-pattern" --fps "$fps" >/dev/null &
pids+=($!)
sleep 0.5

ticks_per_second=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
now() { date +%s.%N; }
# CPU use of process $1 in % of one core over the middle of a run of
# $seconds: from 1 s after the start to 1 s before the end.
measure_cpu() {
  sleep 1
  local c0 t0 c1 t1
  c0=$(cpu_ticks "$1"); t0=$(now)
  sleep $((seconds - 2))
  c1=$(cpu_ticks "$1"); t1=$(now)
  awk -v c="$((c1 - c0))" -v hz="$ticks_per_second" -v t0="$t0" -v t1="$t1" \
    'BEGIN { printf "%.1f", c / hz / (t1 - t0) * 100 }'
}
# p50 p95 p99 of the numbers on standard input.
percentiles() {
  sort -g | awk '{ v[NR] = $1 } END {
    if (NR == 0) { print "n/a n/a n/a"; exit }
    split("50 95 99", p, " ")
    for (i = 1; i <= 3; i++) { k = int(p[i] / 100 * (NR - 1) + 0.5) + 1; printf "%.2f%s", v[k], (i < 3 ? " " : "\n") }
  }'
}
field() { grep -o "\"$2\":[^,}]*" "$1" | head -1 | cut -d: -f2 | tr -d '"'; }
latency_field() { grep -o "\"$2\":{[^}]*}" "$1" | grep -o "\"$3\":[0-9.]*" | cut -d: -f2; }

echo "== engine: $size@$fps, $mbps Mbps, $seconds s =="
rm -f "$out/frames.log"
ZEL_ENGINE_FRAME_LOG="$out/frames.log" "$bin/zel-engine-host" --fps "$fps" --bitrate-mbps "$mbps" \
  --status-file "$out/status.json" >"$out/engine.out" 2>"$out/engine.err" &
engine=$!
pids+=($engine)
for _ in $(seq 200); do grep -q listening "$out/engine.out" 2>/dev/null && break; sleep 0.05; done
"$bin/zel-receiver" --duration "$seconds" --no-decode --json "$out/ours.json" >/dev/null &
receiver=$!
ours_cpu=$(measure_cpu "$engine")
wait "$receiver" || { echo "receiver failed:"; cat "$out/ours.json" 2>/dev/null; exit 1; }
kill "$engine" 2>/dev/null || true
ours_fps=$(field "$out/ours.json" receivedFps)
ours_lost=$(field "$out/ours.json" videoDatagramsLost)
read -r s50 s95 s99 < <(awk '{ print ($3 - $2) / 1000 }' "$out/frames.log" | percentiles)
a50=$(latency_field "$out/ours.json" arrivalLatencyMs p50)
a95=$(latency_field "$out/ours.json" arrivalLatencyMs p95)
a99=$(latency_field "$out/ours.json" arrivalLatencyMs p99)
echo "frames received per second   $ours_fps (datagrams lost: $ours_lost)"
echo "engine CPU                    $ours_cpu % of one core"
echo "capture -> sent (ms)          p50 $s50  p95 $s95  p99 $s99"
echo "capture -> arrival (ms)       p50 $a50  p95 $a95  p99 $a99"

echo "== ffmpeg x11grab -> libx264 -> MPEG-TS/UDP: same size, rate, bitrate =="
port=50123
"$bin/zel-ts-latency" "$port" "$((seconds + 3))" >"$out/ffmpeg-latency.json" &
probe=$!
sleep 0.3
# The encoder keeps x11grab's capture timestamps (microsecond time base,
# no shift), so each picture's PTS tells the probe when it was captured.
ffmpeg -hide_banner -loglevel error -nostats -f x11grab -framerate "$fps" -video_size "$size" \
  -draw_mouse 0 -i "$DISPLAY" -frames:v $((seconds * fps)) -c:v libx264 -preset ultrafast \
  -tune zerolatency -b:v "${mbps}M" -maxrate "${mbps}M" -bufsize "$((mbps * 1000 / fps))k" \
  -pix_fmt yuv420p -enc_time_base 1/1000000 -copyts -muxdelay 0 -muxpreload 0 \
  -f mpegts "udp://127.0.0.1:$port?pkt_size=1316" 2>"$out/ffmpeg.err" &
ffmpeg_pid=$!
pids+=($ffmpeg_pid)
ffmpeg_cpu=$(measure_cpu "$ffmpeg_pid")
wait "$ffmpeg_pid" || { echo "ffmpeg failed:"; cat "$out/ffmpeg.err"; exit 1; }
wait "$probe"
f50=$(latency_field "$out/ffmpeg-latency.json" arrivalLatencyMs p50)
f95=$(latency_field "$out/ffmpeg-latency.json" arrivalLatencyMs p95)
f99=$(latency_field "$out/ffmpeg-latency.json" arrivalLatencyMs p99)
echo "frames received per second   $(field "$out/ffmpeg-latency.json" fps)"
echo "ffmpeg CPU                    $ffmpeg_cpu % of one core"
echo "capture -> sent (ms)          not observable inside ffmpeg; on loopback about the arrival figure"
echo "capture -> arrival (ms)       p50 $f50  p95 $f95  p99 $f99"

echo "== comparison =="
awk -v a="$ours_cpu" -v b="$ffmpeg_cpu" -v fps="$ours_fps" -v s50="$s50" 'BEGIN {
  ratio = b > 0 ? a / b : 0
  printf "CPU ratio ours/ffmpeg        %.2f (aim <= 0.65: %s)\n", ratio, (ratio <= 0.65 ? "met" : "missed")
  printf "sustained fps                %.1f (aim 60: %s)\n", fps, (fps >= 59 ? "met" : "missed")
  printf "capture -> sent p50          %s ms (aim < 12: %s)\n", s50, (s50 < 12 ? "met" : "missed")
}'
