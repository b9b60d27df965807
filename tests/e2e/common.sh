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
sim=(/SIMULATE "--sim-state=$state" "--sim-speed=$speed")

# read_infoa OUT: the instrument's InfoA through the console tool, with the blank password first
# and the release's own after it, as the wizard reads it.
read_infoa() {
  local key
  for key in blank_key.txt model_key.txt; do
    "$koralbsl" --simulate "--sim-state=$state" -cCOM4 "-p$pkg/$key" -r10c0 40 "$1" >"$work/koralbsl.log" 2>&1 && return 0
  done
  cat "$work/koralbsl.log" >&2
  return 1
}

# The instrument runs the embedded release and kept its InfoA; no backup file is left behind.
check_instrument() {
  local before=$1
  read_infoa "$work/infoa_after.txt"
  cmp "$before" "$work/infoa_after.txt" || { echo "InfoA changed" >&2; return 1; }
  "$koralbsl" --simulate "--sim-state=$state" -cCOM4 "-p$pkg/model_key.txt" +v "$pkg/image.txt" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log" >&2; echo "the instrument does not hold the release" >&2; return 1; }
  if compgen -G "$work/KORLDR_INFOA_*" >/dev/null; then
    echo "backup files left: $(ls "$work"/KORLDR_INFOA_*)" >&2
    return 1
  fi
}

fail() {
  echo "e2e: $*" >&2
  e2e_screen >&2 || true
  exit 1
}
