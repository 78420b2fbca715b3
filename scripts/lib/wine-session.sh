# Sourced by scripts/test and scripts/run: a Wine prefix inside the Windows
# build folder, a virtual X display and one wineserver for the session.
# stop_wine_session ends both; callers trap it on EXIT.

WIN_BUILD="${WIN_BUILD:-$ROOT/build/win}"
export WINEPREFIX="$WIN_BUILD/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
# The Unix locale picks Wine's code pages and formats: one for every machine.
export LC_ALL=C.UTF-8

_xvfb_pid=""

# start_display own: always a display of our own (tests), else the caller's
# display when there is one.
start_display() {
  if [ "${1:-}" != own ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return; fi
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 "$WINE_SCREEN" -nolisten tcp >/dev/null 2>&1 &
  _xvfb_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && xdpyinfo >/dev/null 2>&1 && return
    sleep 0.1
  done
  echo "wine-session: Xvfb did not start" >&2
  return 1
}

# Everything the tests may depend on is set here, in one place: the fonts the
# dialogs ask for ("MS Sans Serif", "MS Shell Dlg"), 96 DPI, unmanaged
# windows and no crash dialog. The display is always 1024x768 at 24 bits.
# A copy of the prefix at 144 DPI (150 %) serves the display scale test.
# Changing a setting: raise PREFIX_SETTINGS, and every prefix is made anew.
PREFIX_SETTINGS=3
SCALED_PREFIX="$WIN_BUILD/wineprefix-144dpi"
WINE_SCREEN="1024x768x24"

ensure_prefix() {
  mkdir -p "$WIN_BUILD"
  if [ "$(cat "$WINEPREFIX/.snipwise-ready" 2>/dev/null)" != "$PREFIX_SETTINGS" ]; then
    echo "wine-session: creating the Wine prefix (once)"
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    # Wine's own versions of the Windows fonts (fonts-wine). Without them in
    # the prefix a dialog asking for "MS Sans Serif" gets whatever font
    # fontconfig offers, and every dialog unit has another size.
    cp /usr/share/wine/fonts/*.fon /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    # Without a window manager Wine waits about 2 s whenever a dialog closes
    # unless its windows are unmanaged; and no crash dialog may block a test.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
    wineserver -w
    echo "$PREFIX_SETTINGS" > "$WINEPREFIX/.snipwise-ready"
  fi
  if [ "$(cat "$SCALED_PREFIX/.snipwise-ready" 2>/dev/null)" != "$PREFIX_SETTINGS" ]; then
    make_scaled_prefix "$SCALED_PREFIX" 144
  fi
}

# make_scaled_prefix folder dpi: a copy of the prefix with another LogPixels.
make_scaled_prefix() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  rm -rf "$1"
  cp -a "$WINEPREFIX" "$1"
  rm -f "$1/.snipwise-ready"
  WINEPREFIX="$1" wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$2" /f >/dev/null 2>&1
  WINEPREFIX="$1" wineserver -w
  echo "$PREFIX_SETTINGS" > "$1/.snipwise-ready"
}

start_wine_session() {
  start_display "${1:-}"
  ensure_prefix
  wineserver -p >/dev/null 2>&1 || true
  # Start Wine's background services now, detached from our output: started
  # by the first test instead, they would inherit ctest's pipes and keep it
  # waiting after the test has ended.
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  WINEPREFIX="$SCALED_PREFIX" wineserver -p >/dev/null 2>&1 || true
  WINEPREFIX="$SCALED_PREFIX" wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

stop_wine_session() {
  wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX="$SCALED_PREFIX" wineserver -k >/dev/null 2>&1 || true
  if [ -n "$_xvfb_pid" ]; then
    kill "$_xvfb_pid" >/dev/null 2>&1 || true
    wait "$_xvfb_pid" 2>/dev/null || true
    _xvfb_pid=""
  fi
}
