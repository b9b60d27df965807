#!/usr/bin/env bash
# The main job: builds the wizard and runs it against the simulated instrument, with the simulated
# operator doing every step, then reads the instrument's InfoA with the console tool and shows
# that the calibration the instrument started with is still there.
#   tools/demo.sh [--sim-speed=N] [--plain]   (the wizard's own options are passed on)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
tools/deps.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)" --target koralloader koralbsl

koralloader=build/linux/app/koralloader
koralbsl=build/linux/tools/koralbsl/koralbsl
pkg=res/package
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work  # the wizard's InfoA backups go here
state=$work/instrument.state

# A calibration record of our own, so the check below cannot pass by accident.
calibration=$(for i in $(seq 0 63); do printf '%02X' $(( (i * 37 + 11) & 0xFF )); done)

# read_infoa OUT: InfoA through the console tool with the release's own password (the instrument
# runs an earlier release of the model, which has the same vectors).
read_infoa() {
  "$koralbsl" --simulate "--sim-state=$state" -cCOM4 "-p$pkg/model_key.txt" -r10c0 40 "$1" \
    >"$work/koralbsl.log" 2>&1 || { cat "$work/koralbsl.log" >&2; exit 1; }
  cat "$1"
}
hex() { sed -n '2,5p' "$1" | tr -d ' \r\n'; }

echo "== 1. a simulated instrument: an earlier release running, our calibration in InfoA"
# The wizard makes new instruments as they come from the field; opened and closed at once, it
# leaves this one in the state file.
echo c | "$koralloader" --plain /SIMULATE "--sim-state=$state" "--sim-infoa=$calibration" --sim-operator=hands \
  >"$work/create.log" 2>&1 || true
[ -f "$state" ] || { cat "$work/create.log" >&2; exit 1; }
echo "   the console tool reads its InfoA:"
read_infoa "$work/infoa_before.txt"

echo
echo "== 2. the wizard writes the embedded firmware into it"
echo "   (the simulated operator plugs the cable in, toggles the On switch and clicks; about a minute)"
status=0
"$koralloader" /SIMULATE "--sim-state=$state" --sim-speed=2 "$@" || status=$?
echo
echo "The wizard ended with exit status $status (0: upload done, the instrument started the new firmware)."
[ "$status" = 0 ] || exit "$status"

echo
echo "== 3. the console tool reads InfoA again"
read_infoa "$work/infoa_after.txt"
if [ "$(hex "$work/infoa_after.txt")" = "$(hex "$work/infoa_before.txt")" ]; then
  echo "InfoA is the calibration the instrument had before the upload, byte for byte."
else
  echo "InfoA changed!" >&2
  exit 1
fi
