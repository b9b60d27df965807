#!/usr/bin/env bash
# Cuts in a row under the bench: koralloader --plain /skipservice, with no simulation switch, has
# upload after upload cut (the cable pulled, the battery removed) at points across its driver
# runs, as the operator retries the way the wizard's messages say, each retry cut at the next
# point; the upload after the last cut runs to the tick. Then: exit status 0, InfoA byte for byte
# the calibration, the firmware verified, no backup left. Every cut must have happened. cuts.sh
# cuts one point per fresh instrument instead (half an hour), the bridge reset and the console
# phase too.
#   chain.sh BUILD_DIR PACKAGE_DIR
source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/operator.sh"
begun=$SECONDS

# Armed when an upload page is entered (frames and host bytes count from there): a bench control
# line, or "on TEXT => STEP", done when the wizard prints TEXT. After a cut in the erase the next
# page is a restore, whose own frames the next point cuts.
points=(
  "at-frame 1 power-off"                      # first reading: blank-key password
  "at-frame 2 unplug"                         # the model key's
  "at-byte 120 unplug"                        # InfoA read, mid-frame
  "at-frame 3 power-off"                      # InfoA read
  "at-frame 5 power-off"                      # program run: password
  "at-frame 6 unplug"                         # its InfoA read
  "fault cut-flash=1@28"                      # first mass erase, at InfoA
  "at-frame 8 power-off"                      # second mass erase
  "fault cut-flash=2@500"                     # second mass erase, half-way
  "at-frame 9 unplug"                         # third mass erase
  "fault cut-flash=4@500"                     # InfoA written back, half-way
  "at-frame 10 unplug"                        # InfoA written back
  "at-frame 11 power-off"                     # password after the erase
  "at-frame 13 unplug"                        # first firmware block
  "at-byte 4000 power-off"                    # firmware, mid-frame
  "fault cut-flash=20@500"                    # a firmware block, half-way
  "at-frame 30 unplug"                        # a firmware block
  "at-byte 9000 unplug"                       # firmware, mid-frame
  "at-byte 6500 power-off"                    # firmware, mid-frame
  "at-frame 253 power-off"                    # second reading
)

armed=0 fired_before=0 cut_text= cut_step=
# Cuts made so far: the bench's (frames, bytes, flash work) and the ones done on a printed text.
fired() { echo $(($(grep -c "^koral_bench: .* (frames " "$work/bench.txt" || true) + text_fired)); }
text_fired=0
chain_hook() {
  if [ -n "$cut_text" ] && [[ "$1" == *"$cut_text"* ]]; then
    step "$cut_step"
    cut_text=
    text_fired=$((text_fired + 1))
  fi
  [ "$1" = "Firmware Image Transfer" ] || return 0
  # A point that has not cut yet stays armed for this upload too.
  if ((armed > 0)) && (($(fired) == fired_before)); then return 0; fi
  ((armed < ${#points[@]})) || return 0
  fired_before=$(fired)
  arm "${points[$armed]}"
  armed=$((armed + 1))
}

start_wizard "--sim-infoa=$calibration" -- /skipservice
operate 1500 chain_hook
[ "$status" = 0 ] || fail "exit status $status"
tail -n 30 "$work/out.txt" | grep -qF "ZantirKORAL" || fail "no console text after the last upload's bridge reset"
made=$(fired)
((armed == ${#points[@]} && made == ${#points[@]})) || fail "$made cuts made of ${#points[@]} ($armed armed)"
now=$(infoa_hex) || fail "InfoA could not be read"
[ "$now" = "$calibration" ] || fail "InfoA is not the calibration: $now"
check_release || fail "the firmware does not verify"
# The verified upload took every backup of the calibration the cut ones had kept.
if compgen -G "$work/KORLDR_INFOA_*" >/dev/null; then fail "backups left: $(cd "$work" && ls KORLDR_INFOA_*)"; fi
sed -n 's/^koral_bench: //p' "$work/bench.txt"
echo "bench chain: $made cuts, $(grep -c '^Firmware Image Transfer$' "$work/out.txt") upload pages," \
  "$(grep -c 'InfoA successfully restored' "$work/out.txt") restores," \
  "$(grep -c 'InfoA differs from the saved InfoA' "$work/out.txt") same-instrument questions, $((SECONDS - begun)) s"
