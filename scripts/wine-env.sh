# Sourced by scripts that run Windows programs under Wine. Gives the build
# folder its own Wine prefix and a private Xvfb display, keeps the Wine server
# warm for the many short test processes, and stops both in wine_env_stop.
# Usage: source scripts/wine-env.sh; wine_env_start BUILD_DIR; ...; wine_env_stop

wine_env_start() {
  local build_dir=$1
  export WINEPREFIX="$build_dir/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEARCH=win64
  # A display number nobody uses, so parallel runs do not meet.
  local n
  for n in $(seq 91 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then break; fi
  done
  Xvfb ":$n" -noreset -screen 0 1280x720x24 -nolisten tcp >/dev/null 2>&1 &
  ZEL_WINE_XVFB_PID=$!
  export DISPLAY=":$n"
  if [ ! -f "$WINEPREFIX/.zel-ready" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    # Without this a crashing program waits for a click on a dialog for ever.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.zel-ready"
  fi
  wineserver -p
  # Start Wine's own services now, with nothing of ours as their standard
  # handles: started later by a test program, they would inherit ctest's
  # output pipe and hold it open after the test ended.
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

wine_env_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then wineserver -k >/dev/null 2>&1 || true; fi
  if [ -n "${ZEL_WINE_XVFB_PID:-}" ]; then
    kill "$ZEL_WINE_XVFB_PID" >/dev/null 2>&1 || true
    wait "$ZEL_WINE_XVFB_PID" 2>/dev/null || true
  fi
}
