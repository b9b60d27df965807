#!/usr/bin/env bash
# Cuts under the bench: koralloader --plain, with no simulation switch, has its upload cut by the
# cable pulled or the battery removed at points across its driver runs (the first InfoA reading,
# the program pass, the second reading, the bridge reset, the console phase); then the operator
# retries as the wizard's messages say until the tick. Each point checks: exit status 0 with the
# tick, InfoA byte for byte the calibration, the firmware verified, no backup left that is not the
# calibration. Prints a table. Not a CTest test: each point is a few real-time uploads.
#   cuts.sh BUILD_DIR PACKAGE_DIR [JOBS [POINT_NUMBER...]]
source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/operator.sh"
jobs=${3:-1}
shift $(($# < 3 ? $# : 3))

# Label; the cut: a bench control line sent before the wizard starts (frames and host bytes count
# from the upload's first), or "on TEXT => STEP" when the wizard prints TEXT.
points=(
  "reading 1, blank-key password (frame 1): battery removed;at-frame 1 power-off"
  "reading 1, model-key password (frame 2): cable pulled;at-frame 2 unplug"
  "reading 1, InfoA read mid-frame (host byte 120): cable pulled;at-byte 120 unplug"
  "program pass, password (frame 5): battery removed;at-frame 5 power-off"
  "program pass, InfoA read (frame 6): cable pulled;at-frame 6 unplug"
  "program pass, first mass erase (frame 7): battery removed;at-frame 7 power-off"
  "program pass, mass erase at InfoA (28 per mille into frame 7): battery removed;fault cut-flash=1@28"
  "program pass, second mass erase half-way (frame 8): battery removed;fault cut-flash=2@500"
  "program pass, third mass erase (frame 9): cable pulled;at-frame 9 unplug"
  "program pass, InfoA write-back half-way (frame 10): battery removed;fault cut-flash=4@500"
  "program pass, InfoA write-back (frame 10): cable pulled;at-frame 10 unplug"
  "program pass, password after the erase (frame 11): battery removed;at-frame 11 power-off"
  "program pass, first firmware block (frame 13): cable pulled;at-frame 13 unplug"
  "program pass, firmware mid-frame (host byte 15000): battery removed;at-byte 15000 power-off"
  "program pass, firmware block half-way (60th flash write): battery removed;fault cut-flash=60@500"
  "program pass, firmware mid-frame (host byte 30000): cable pulled;at-byte 30000 unplug"
  "program pass, firmware block (frame 150): battery removed;at-frame 150 power-off"
  "program pass, firmware mid-frame (host byte 45000): cable pulled;at-byte 45000 unplug"
  "program pass, last block (frame 250): battery removed;at-frame 250 power-off"
  "reading 2, password (frame 251): cable pulled;at-frame 251 unplug"
  "reading 2, InfoA read (frame 253): battery removed;at-frame 253 power-off"
  "bridge reset, waiting for the device: cable pulled;on Waiting for device... => unplug"
  "console phase, switch-on request: battery removed;on Please flip the switch => power-off"
  "console phase, switch-on request: cable pulled;on Please flip the switch => unplug"
)
selected=("$@")
[ ${#selected[@]} -gt 0 ] || selected=($(seq 1 ${#points[@]}))

cut_text= cut_step=
cut_hook() {
  [ -n "$cut_text" ] && [[ "$1" == *"$cut_text"* ]] || return 0
  step "$cut_step"
  cut_text=
}

# run_point N: one cut and the operator's uploads to the tick; one result line in $work/pN/result.
run_point() {
  local n=$1 point=${points[$1 - 1]} begun=$SECONDS left name arm
  work=$cuts/p$n
  mkdir -p "$work"
  export TMPDIR=$work
  state=$work/instrument.state
  bench=("$root/tools/bench.sh" "--sim-state=$state")
  trap '[ -z "$pid" ] || kill "$pid" 2>/dev/null || true' EXIT
  fail() {
    echo "$n|${point%%;*}|${saw:-}|${uploads:-?}|FAILED: $*|$((SECONDS - begun))" >"$work/result"
    exit 1
  }
  arm=${point#*;}
  start_wizard "--sim-infoa=$calibration"
  arm "$arm"
  operate 1200 cut_hook
  [ "$status" = 0 ] || fail "exit status $status"
  local now
  now=$(infoa_hex) || fail "InfoA could not be read"
  [ "$now" = "$calibration" ] || fail "InfoA is not the calibration: $now"
  check_release || fail "the firmware does not verify"
  left=0
  for name in "$work"/KORLDR_INFOA_*; do
    [ -e "$name" ] || continue
    left=$((left + 1))
    [ "$(sed -n '2,5p' "$name" | tr -d ' \r\n')" = "$calibration" ] || fail "a backup that is not the calibration: ${name##*/}"
  done
  local how=tick
  grep -qF "InfoA is blank!" "$work/out.txt" && how+=", InfoA blank: the newest backup chosen at the file prompt"
  grep -qF "InfoA differs from the saved InfoA" "$work/out.txt" &&
    how+=", InfoA damaged: Yes to writing the unfinished upload's backup back"
  grep -qF "InfoA successfully restored" "$work/out.txt" && how+=", restored"
  ((left == 0)) || how+=", $left backup(s) of the calibration kept"
  # A retry that failed with nothing cut: the loader lost the host's pace (a starved host).
  local lost
  lost=$(sed -n '/^Result: /,$p' "$work/out.txt" | grep -c "^Error 99 " || true)
  ((lost == 0)) || how+=", $lost retry lost sync with no cut"
  echo "$n|${point%%;*}|${saw}|$uploads|$how|$((SECONDS - begun))" >"$work/result"
}

cuts=$work
running=0
for n in "${selected[@]}"; do
  if ((running >= jobs)); then
    wait -n || true
    running=$((running - 1))
  fi
  (run_point "$n") >"$cuts/log.$n" 2>&1 &
  running=$((running + 1))
  sleep 2  # the benches start one after another
done
wait || true

failed=0
echo "| # | point | what the operator saw on the cut upload | uploads | outcome | s |"
echo "|---|---|---|---|---|---|"
for n in "${selected[@]}"; do
  if [ -f "$cuts/p$n/result" ]; then
    line=$(cat "$cuts/p$n/result")
  else
    line="$n|${points[$n - 1]%%;*}||?|FAILED: no result ($(tail -n 1 "$cuts/log.$n" 2>/dev/null))|"
  fi
  [[ "$line" != *"|FAILED"* ]] || failed=$((failed + 1))
  echo "| ${line//|/ | } |"
done
echo "bench cuts: ${#selected[@]} points, $failed failed"
if ((failed > 0)); then
  trap - EXIT  # the wizard's lines and the instruments stay for a look
  echo "kept: $cuts" >&2
  exit 1
fi
