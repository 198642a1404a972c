#!/usr/bin/env bash
# The main job, as far as the engine goes today: build it, start it with a
# status file, show it listening on TCP 48300, let a client connect and leave,
# and print the status file before and after. The engine is stopped at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh >/dev/null
[ -f build/linux/CMakeCache.txt ] || cmake --preset linux >/dev/null
cmake --build --preset linux --target zel-engine-host >/dev/null

work=$(mktemp -d)
engine=build/linux/bin/zel-engine-host
"$engine" --status-file "$work/status.json" --control-file "$work/control.json" \
  >"$work/engine.out" 2>"$work/engine.err" &
pid=$!
cleanup() { kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

for _ in $(seq 100); do
  grep -q "listening" "$work/engine.out" 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || { cat "$work/engine.err"; exit 1; }
  sleep 0.05
done
echo "--- engine (pid $pid) says:"
cat "$work/engine.out"
echo "--- status.json while waiting for a receiver:"
cat "$work/status.json"; echo
echo "--- a client connects to 127.0.0.1:48300 and leaves"
exec 3<>/dev/tcp/127.0.0.1/48300
cat <&3 >/dev/null || true
exec 3<&-
sleep 0.2
echo "--- status.json afterwards:"
cat "$work/status.json"; echo
kill -0 "$pid" && echo "--- the engine is still listening; stopping it now"
