#!/usr/bin/env bash
# Started with /skipservice the wizard opens on the power-cycling page and still ends with the
# green tick.
source "$(dirname "$0")/common.sh"
read_infoa "$work/infoa_before.txt"
e2e_start 120 36 "$koralloader" /skipservice "${sim[@]}"
e2e_wait "Please follow these steps exactly"
e2e_screen | grep -qF "Welcome to the" && fail "the welcome page is shown"
e2e_wait "Firmware Image Transfer" 120
e2e_wait "It is now safe to remove the USB cable." 180
e2e_screen | grep -qF "✔" || fail "no green tick"
status=$(e2e_exit_status 60)
[ "$status" = 0 ] || fail "exit status $status"
check_instrument "$work/infoa_before.txt"
echo "skipservice: ok"
