# Shared by the scripts: the test Wine prefix and a private X display.
# Source it; it defines functions and sets nothing else.

orvane_wine_defaults() {
  export WINEDEBUG=-all
  # No Mono or Gecko installers: the program needs neither.
  export WINEDLLOVERRIDES="mscoree,mshtml="
}

# Creates the prefix once (about 8 s), then reuses it.
orvane_prepare_prefix() {
  local prefix=$1
  export WINEPREFIX=$prefix
  orvane_wine_defaults
  if [ ! -f "$prefix/.orvane-ready" ]; then
    mkdir -p "$prefix"
    wineboot -i >/dev/null 2>&1 || true
    # An unhandled exception must end the process instead of opening a blocking dialog.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wineserver -w
    [ -d "$prefix/drive_c/windows" ] || { echo "wine prefix could not be created in $prefix" >&2; return 1; }
    touch "$prefix/.orvane-ready"
  fi
}

# Starts Xvfb on the first free display and exports DISPLAY; ORVANE_XVFB_PID tells whom to stop.
orvane_start_xvfb() {
  local n
  for n in $(seq 90 250); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    ORVANE_XVFB_PID=$!
    local i
    for i in $(seq 1 50); do
      if [ -e "/tmp/.X11-unix/X$n" ]; then
        export DISPLAY=":$n"
        return 0
      fi
      kill -0 "$ORVANE_XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    kill "$ORVANE_XVFB_PID" 2>/dev/null || true
    ORVANE_XVFB_PID=
  done
  echo "no free X display for Xvfb" >&2
  return 1
}

# Stops what orvane_start_xvfb and the prefix started; safe to call more than once.
orvane_stop_all() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
  fi
  if [ -n "${ORVANE_XVFB_PID:-}" ]; then
    kill "$ORVANE_XVFB_PID" 2>/dev/null || true
    wait "$ORVANE_XVFB_PID" 2>/dev/null || true
    ORVANE_XVFB_PID=
  fi
}

# Configures and builds one target kind: i686 (the product), x86_64 (the tests).
orvane_build() {
  local root=$1 arch=$2 dir=$3; shift 3
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" "$@" >/dev/null
  cmake --build "$dir"
}
