#!/usr/bin/env bash
# The wizard in a terminal from the welcome page to the green tick, the simulated operator doing
# the steps and clicks; the instrument ends with the release and its own InfoA.
source "$(dirname "$0")/common.sh"
read_infoa "$work/infoa_before.txt"
e2e_start 120 36 "$koralloader" "${sim[@]}"
e2e_wait "Welcome to the Zantir KORAL Firmware Upload Wizard"
e2e_screen | grep -qF "[[ Next > ]]" || fail "no default button"
e2e_wait "Please connect the device now."
e2e_wait "Enter Programming Mode"
e2e_wait "PROGRAMMING MODE" 60
e2e_wait "Firmware Image Transfer"
e2e_wait "% complete" 120
e2e_wait "It is now safe to remove the USB cable." 180
e2e_screen | grep -qF "100% complete" || fail "no 100% complete"
e2e_screen | grep -qF "✔" || fail "no green tick"
status=$(e2e_exit_status 60)
[ "$status" = 0 ] || fail "exit status $status"
check_instrument "$work/infoa_before.txt"
echo "full run: ok"
