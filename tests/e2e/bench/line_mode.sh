#!/usr/bin/env bash
# koralloader as an operator starts it, in line mode, against the instrument below the operating
# system: found through udev, the console at 115200, the whole upload at 9600 baud, the bridge
# reset by libusb and found again. The bench's operator does the physical steps; the keys are typed.
source "$(dirname "$0")/common.sh"
mkfifo "$work/keys"
"${bench[@]}" "--sim-infoa=$calibration" -- "$koralloader" --plain <"$work/keys" >"$work/out.txt" 2>&1 &
pid=$!
exec 3>"$work/keys"
wait_for "(commands:" 20
echo n >&3
wait_for "Please connect the device now." 20
wait_for "Enter Programming Mode" 30
mark=$(lines)
wait_for "PROGRAMMING MODE" 30 "$mark"
wait_for "(Next is enabled)" 10 "$mark"
echo n >&3
wait_for "100% complete" 240
wait_for "Waiting for device..." 30
wait_for "Result: done (green tick)" 120
grep -qF "ZantirKORAL" "$work/out.txt" || fail "no console text after the reset"
echo c >&3
status=0
wait "$pid" || status=$?
pid=
[ "$status" = 0 ] || fail "exit status $status"
if compgen -G "$work/KORLDR_INFOA_*" >/dev/null; then fail "backup files left"; fi
now=$(infoa_hex) || fail "InfoA could not be read"
[ "$now" = "$calibration" ] || fail "InfoA changed: $now"
check_release || fail "the instrument does not hold the release"
echo "bench line mode: ok"
