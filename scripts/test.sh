#!/usr/bin/env bash
# Builds and runs every test: Linux natively, Linux under ASan+UBSan (unit
# tests), Windows cross-built and run under Wine. Pick presets with
# ZEL_TEST_PRESETS="linux windows". Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/deps.sh >/dev/null

presets=${ZEL_TEST_PRESETS:-"linux linux-asan windows"}
jobs=$(nproc)
failed=()

for preset in $presets; do
  echo "=== $preset: configure and build"
  if [ ! -f "build/$preset/CMakeCache.txt" ]; then cmake --preset "$preset" >/dev/null; fi
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: test"
  if [ "$preset" = windows ]; then
    # shellcheck source=scripts/wine-env.sh
    source scripts/wine-env.sh
    wine_env_start "$root/build/windows"
    trap wine_env_stop EXIT
    ctest --preset windows -j "$jobs" || failed+=("$preset")
    wine_env_stop
    trap - EXIT
  else
    ctest --preset "$preset" -j "$jobs" || failed+=("$preset")
  fi
done

if [ "${#failed[@]}" -gt 0 ]; then
  echo "FAILED presets: ${failed[*]}"
  exit 1
fi
echo "All test presets passed: $presets"
