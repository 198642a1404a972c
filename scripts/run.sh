#!/usr/bin/env bash
# The main job: a real stream from a virtual desktop to the reference receiver.
# Starts Xvfb with moving content (or uses $DISPLAY when ZEL_USE_DISPLAY=1),
# starts the engine with a status file, lets the reference receiver stream for
# a few seconds, saves one decoded frame as PNG and prints the receiver's
# summary and the engine's last status. Everything started here is stopped.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh >/dev/null
[ -f build/linux/CMakeCache.txt ] || cmake --preset linux >/dev/null
cmake --build --preset linux --target zel-engine-host zel-receiver zel-test-pattern >/dev/null

out=${ZEL_RUN_OUT:-$PWD/build/run}
mkdir -p "$out"
pids=()
# Stopped newest first, so the X server goes after its clients.
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
}
trap cleanup EXIT

if [ "${ZEL_USE_DISPLAY:-0}" != 1 ]; then
  for n in $(seq 60 90); do [ -e "/tmp/.X11-unix/X$n" ] || break; done
  Xvfb ":$n" -noreset -screen 0 1280x720x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=":$n"
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
  # Moving content: four colour quadrants with a bouncing box and a sweeping bar.
  build/linux/bin/zel-test-pattern --fps 60 >/dev/null &
  pids+=($!)
fi

build/linux/bin/zel-engine-host --status-file "$out/status.json" >"$out/engine.out" 2>"$out/engine.err" &
pids+=($!)
for _ in $(seq 100); do grep -q listening "$out/engine.out" 2>/dev/null && break; sleep 0.05; done

echo "--- engine:"
cat "$out/engine.out"
echo "--- reference receiver, 4 seconds over UDP:"
build/linux/bin/zel-receiver --duration 4 --save-frame 60 --png "$out/frame.png" --json "$out/summary.json" >/dev/null
cat "$out/summary.json"; echo
sleep 0.3
echo "--- engine console:"
cat "$out/engine.out"
echo "--- engine status after the session:"
cat "$out/status.json"; echo
echo "--- decoded frame saved as $out/frame.png"
