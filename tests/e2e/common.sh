# Shared by the end-to-end tests: arguments, a work folder that is also the program's temporary
# directory, InfoA read-outs with the console tool, and the tmux helpers.
#   test.sh KORALLOADER KORALBSL PACKAGE_DIR
set -euo pipefail
koralloader=$1 koralbsl=$2 pkg=$3
source "$(dirname "${BASH_SOURCE[0]}")/tmux.sh"
work=$(mktemp -d)
export TMPDIR=$work
trap 'e2e_stop; rm -rf "$work"' EXIT
state=$work/instrument.state
# Fast enough for CI, slow enough that every page is on screen for a moment.
speed=${E2E_SIM_SPEED:-2}
# A calibration of our own, so the InfoA check cannot pass by accident. The wizard creates the
# instrument (with an earlier release in it) from this; the console tool reads it back afterwards.
calibration=$(for i in $(seq 0 63); do printf '%02X' $(( (i * 37 + 11) & 0xFF )); done)
sim=(/SIMULATE "--sim-state=$state" "--sim-speed=$speed")

# infoa_hex: the instrument's InfoA as 128 hex digits, read with the console tool, the blank
# password first and the release's own after it, as the wizard tries them.
infoa_hex() {
  local key
  for key in blank_key.txt model_key.txt; do
    if "$koralbsl" --simulate "--sim-state=$state" -cCOM4 "-p$pkg/$key" -r10c0 40 "$work/infoa.txt" \
      >"$work/koralbsl.log" 2>&1; then
      sed -n '2,5p' "$work/infoa.txt" | tr -d ' \r\n'
      return 0
    fi
  done
  cat "$work/koralbsl.log" >&2
  return 1
}

# The instrument runs the embedded release and kept the calibration; no backup file is left.
check_instrument() {
  local now
  now=$(infoa_hex) || fail "InfoA could not be read"
  [ "$now" = "$calibration" ] || fail "InfoA changed: $now"
  "$koralbsl" --simulate "--sim-state=$state" -cCOM4 "-p$pkg/model_key.txt" +v "$pkg/image.txt" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log" >&2; fail "the instrument does not hold the release"; }
  if compgen -G "$work/KORLDR_INFOA_*" >/dev/null; then
    fail "backup files left: $(ls "$work"/KORLDR_INFOA_*)"
  fi
}

# The smallest terminal the wizard fills; the side panel then keeps 20 of its columns, so a
# page's own texts begin after column 21.
SMALL=(80 24)
PAGE_COLUMN=21

# The rows of the screen from PAGE_COLUMN on (characters, not bytes).
page_rows() {
  local LC_ALL=C.UTF-8 line
  while IFS= read -r line; do printf '%s\n' "${line:PAGE_COLUMN}"; done
}

# page_texts_whole TEXT...: waits (up to 10 s) until the page shows every TEXT whole: its rows,
# from PAGE_COLUMN on and without frames, read as one text, hold each TEXT with its words in
# order however the layout wrapped them.
page_texts_whole() {
  local tries prose text missing
  for tries in $(seq 1 100); do
    prose=$(e2e_screen | page_rows | LC_ALL=C.UTF-8 sed 's/[│┌┐└┘─░█|+]/ /g; s/--*-/ /g' | tr '\n' ' ' | tr -s ' ')
    missing=
    for text in "$@"; do
      [[ "$prose" == *"$text"* ]] || missing=$text
    done
    [ -z "$missing" ] && return 0
    sleep 0.1
  done
  fail "not whole on the page: \"$missing\""
}

# The frame's own texts, each on one line; the version as res/version/VERSION gives it.
frame_texts_whole() {
  local text version
  version=$(cat "$(dirname "${BASH_SOURCE[0]}")/../../res/version/VERSION")
  for text in "Version ${version%.*} (Build ${version##*.})" "Copyright (C) 2026 Zantir" "< Back" "Next >" "[ Close ]"; do
    e2e_screen | grep -qF -- "$text" || fail "no \"$text\" in the frame"
  done
}

# Nothing but ASCII on the screen (a terminal without UTF-8).
ascii_only() {
  if e2e_screen | LC_ALL=C grep -q '[^ -~]'; then fail "characters beyond ASCII on the screen"; fi
}

# The upload page ends with the tick (the sign, ✔ by default, over "done"); Close ends the
# program with status 0, and the instrument is checked from outside.
finish_with_the_tick() {
  local tick=${1:-✔}
  e2e_wait "It is now safe to remove the USB cable." 180
  e2e_screen | grep -qF "100% complete" || fail "no 100% complete"
  e2e_screen | grep -qF " $tick " || fail "no green tick"
  e2e_screen | grep -qw "done" || fail "no done under the tick"
  e2e_keys c
  local status
  status=$(e2e_exit_status 30)
  [ "$status" = 0 ] || fail "exit status $status"
  if e2e_screen | grep -qF "WARNING"; then fail "the engine's warning was left on the terminal"; fi
  check_instrument
}

fail() {
  echo "e2e: $*" >&2
  e2e_screen >&2 || true
  exit 1
}
