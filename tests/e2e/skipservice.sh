#!/usr/bin/env bash
# Started with /skipservice in an 80 x 24 terminal whose locale is not UTF-8 (LANG=C): the wizard
# opens on the power-cycling page with Back disabled, draws in ASCII only, shows every text whole
# and still ends with the tick.
source "$(dirname "$0")/common.sh"
e2e_start "${SMALL[@]}" env LANG=C LC_ALL=C "$koralloader" /skipservice "${sim[@]}" --sim-operator=hands \
  "--sim-infoa=$calibration"
e2e_wait "Please follow these steps exactly"
e2e_screen | grep -qF "Welcome to the" && fail "the welcome page is shown"
page_texts_whole "Please follow these steps exactly" "1) Ensure the On switch is off (up position)" \
  "2) Disconnect the USB cable" "3) Disconnect the power cables (Battery and Solar)" \
  "4) Connect the USB cable. When the device is connected, the Next button will become enabled." \
  "5) Connect the power cables" "6) Click the Next button"
frame_texts_whole
ascii_only
sleep 3  # as a person does, step 5 (power back) before step 6 (Next), which the operator does at ~2.4 s
for _ in $(seq 1 300); do  # Next is enabled once the bridge is back
  e2e_keys n
  sleep 0.2
  e2e_screen | grep -qF "Firmware Image Transfer" && break
done
e2e_wait "Firmware Image Transfer" 5
e2e_wait "% complete" 60
page_texts_whole "Firmware Image Transfer" "[ Cancel ]" "% complete"
ascii_only
e2e_wait "It is now safe to remove the USB cable." 180
ascii_only
finish_with_the_tick v
echo "skipservice: ok"
