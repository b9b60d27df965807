#!/usr/bin/env bash
# The wizard in a terminal from the welcome page to the green tick: the simulated operator plugs
# the cable in and toggles the On switch, the test reads the screen and presses the keys.
source "$(dirname "$0")/common.sh"
e2e_start 120 36 "$koralloader" "${sim[@]}" --sim-operator=hands "--sim-infoa=$calibration"
e2e_wait "Welcome to the Zantir KORAL Firmware Upload Wizard"
e2e_screen | grep -qF "[[ Next > ]]" || fail "no default button"
e2e_screen | grep -qF "Version 1.0.3 (Build 151)" || fail "no version line"
e2e_keys n
e2e_wait "Please connect the device now."
e2e_wait "Enter Programming Mode" 60
e2e_wait "PROGRAMMING MODE\"" 5  # the page's own instruction...
e2e_wait "│PROGRAMMING MODE" 60    # ...and the console's line
e2e_keys n
e2e_wait "Firmware Image Transfer"
e2e_wait "% complete" 60
finish_with_the_tick
echo "full run: ok"
