# Sourced by the Wine end-to-end scripts: a private Wine prefix inside a virtual X server, windows
# found by their captions, control texts and clicks through the wintexts helper, PNG screenshots,
# and every Wine process of the prefix stopped at the end.
#
#   source tests/e2e/wine/lib.sh
#   e2e_init "$@"          # re-runs the script under xvfb-run, makes or reuses the prefix
#   e2e_start 120 log prog.exe /ARG ; wid=$(e2e_find 'caption regex' 30) ; e2e_shot "$wid" name
#   e2e_texts 'caption part' ; e2e_click 'caption part' 2 ; e2e_wait ; echo "$E2E_STATUS"
#
# Settings: KORAL_WINDOWS_BUILD (default build/windows), KORAL_E2E_OUT (default build/e2e).

E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
# wine32's own launcher first: what CI installs.
if [ -x /usr/lib/wine/wine ]; then
  WINE=${WINE:-/usr/lib/wine/wine} WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
else
  WINE=${WINE:-$(command -v wine)} WINESERVER=${WINESERVER:-$(command -v wineserver)}
fi
KORAL_WINDOWS_BUILD=${KORAL_WINDOWS_BUILD:-$E2E_ROOT/build/windows}
KORAL_E2E_OUT=${KORAL_E2E_OUT:-$E2E_ROOT/build/e2e}
E2E_WINTEXTS=$KORAL_WINDOWS_BUILD/tools/winprobe/wintexts.exe

e2e_log() { printf '[%5ss] %s\n' "$SECONDS" "$*" >&2; }
e2e_fail() { e2e_log "FAIL: $*"; exit 1; }

# Runs the calling script again inside its own virtual X server (Xvfb), then sets up the prefix.
e2e_init() {
  if [ -z "${KORAL_E2E_UNDER_X:-}" ]; then
    KORAL_E2E_UNDER_X=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
  fi
  mkdir -p "$KORAL_E2E_OUT"
  export WINEPREFIX=$KORAL_E2E_OUT/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  trap e2e_finish EXIT
  if [ ! -f "$WINEPREFIX/.koral-ready" ]; then
    e2e_log "making the Wine prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    timeout 180 "$WINE" wineboot -i >/dev/null 2>&1 || e2e_fail "wineboot"
    # Without a window manager Wine waits about 2 s on every close of a managed window; unmanaged,
    # it also draws the title bars itself, so the captions show in the screenshots.
    e2e_reg 'HKCU\Software\Wine\X11 Driver' Managed REG_SZ N
    # A crash must end the program, not open a dialog that waits for ever.
    e2e_reg 'HKCU\Software\Wine\WineDbg' ShowCrashDialog REG_DWORD 0
    timeout 60 "$WINESERVER" -w
    touch "$WINEPREFIX/.koral-ready"
  fi
}

e2e_reg() {
  timeout 60 "$WINE" reg add "$1" /v "$2" /t "$3" /d "$4" /f >/dev/null 2>&1 || e2e_fail "reg add $1 $2"
}

e2e_finish() {
  [ -n "${E2E_PID:-}" ] && kill "$E2E_PID" 2>/dev/null
  timeout 30 "$WINESERVER" -k 2>/dev/null || true
}

# e2e_start <seconds> <log name> <program> [args...]: starts the program under `timeout`, in the
# background; its output goes to $KORAL_E2E_OUT/<log name>.log.
e2e_start() {
  local seconds=$1 name=$2
  shift 2
  timeout "$seconds" "$WINE" "$@" >"$KORAL_E2E_OUT/$name.log" 2>&1 &
  E2E_PID=$!
}

# e2e_wait: waits for the program of e2e_start; E2E_STATUS is its exit status (124: timed out).
e2e_wait() {
  E2E_STATUS=0
  wait "$E2E_PID" || E2E_STATUS=$?
  E2E_PID=
}

# e2e_find <caption regex> [seconds]: prints the X id of the visible window, or fails.
e2e_find() {
  local regex=$1 limit=${2:-30} start=$SECONDS id
  while [ $((SECONDS - start)) -lt "$limit" ]; do
    id=$(xdotool search --onlyvisible --name "$regex" 2>/dev/null | head -n 1 || true)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.2
  done
  e2e_fail "no window \"$regex\" within $limit s"
}

# e2e_gone <caption regex> [seconds]: waits until no such window is visible.
e2e_gone() {
  local regex=$1 limit=${2:-30} start=$SECONDS
  while [ $((SECONDS - start)) -lt "$limit" ]; do
    xdotool search --onlyvisible --name "$regex" >/dev/null 2>&1 || return 0
    sleep 0.2
  done
  e2e_fail "window \"$regex\" still there after $limit s"
}

# e2e_shot <window id> <name>: $KORAL_E2E_OUT/<name>.png of that window, caption included.
e2e_shot() {
  [ -n "$1" ] || e2e_fail "screenshot $2: no window"  # import would wait for a mouse click
  sleep 0.5  # let Wine finish painting
  timeout 30 import -window "$1" "$KORAL_E2E_OUT/$2.png" || e2e_fail "screenshot $2"
  e2e_log "screenshot $2.png"
}

# e2e_tempdir: the Linux path of what GetTempPathA answers the prefix's programs. (Wine does not
# take TMP or TEMP from the Linux environment: the prefix's own registry sets them.)
e2e_tempdir() {
  local dir
  dir=$(timeout 30 "$WINE" cmd /c 'echo %TMP%' 2>/dev/null | tr -d '\r')
  [ -n "$dir" ] || e2e_fail "no %TMP% in the prefix"
  dir=$(timeout 30 "$WINE" winepath -u "$dir" 2>/dev/null)
  mkdir -p "$dir" && (cd "$dir" && pwd -P)
}

# e2e_texts <caption part>: the controls of that window, one line each (see wintexts.cpp).
e2e_texts() {
  timeout 30 nice -n 19 "$WINE" "$E2E_WINTEXTS" "$1" 2>/dev/null | tr -d '\r'
}

# e2e_click <caption part> <control id>: clicks that button of that window.
e2e_click() {
  timeout 30 "$WINE" "$E2E_WINTEXTS" "$1" --click "$2" >/dev/null 2>&1 || e2e_fail "click $2 in \"$1\""
}

# e2e_expect_text <texts> <text>: fails unless one control of the listing shows exactly <text>.
e2e_expect_text() {
  printf '%s\n' "$1" | cut -f4- | grep -qxF -- "$2" || e2e_fail "no control shows \"$2\""
}
