#!/usr/bin/env bash
# The wizard in an 80 x 24 terminal from the welcome page to the green tick: the simulated
# operator plugs the cable in and toggles the On switch, the test reads every page's texts whole
# and presses the keys.
source "$(dirname "$0")/common.sh"
e2e_start "${SMALL[@]}" "$koralloader" "${sim[@]}" --sim-operator=hands "--sim-infoa=$calibration"
e2e_wait "Welcome to the Zantir KORAL Firmware Upload Wizard"
page_texts_whole "Welcome to the Zantir KORAL Firmware Upload Wizard" \
  "The program will now prepare to upload the application code to the connected Zantir device."
frame_texts_whole
e2e_screen | grep -qF "[[ Next > ]]" || fail "no default button"
e2e_keys n
# Shown for about a second before the operator's cable moves the wizard on: read as it appears.
page_texts_whole "Please connect the device now." \
  "Connect battery power, switch the VKT on and then connect the USB cable." \
  "When the device is connected, the Wizard will automatically progress to the next page." \
  "If the USB cable is already connected, you will need to disconnect and reconnect it."
e2e_wait "Enter Programming Mode" 60
page_texts_whole "Enter Programming Mode" \
  "1) Ensure the On switch is off (in the up position) and wait until the red \"Warn\" light starts blinking slowly." \
  "2) Toggle the On switch on-off-on-off quickly, leaving it off. The Next button will be enabled when the probe outputs \"PROGRAMMING MODE\" below." \
  "[ ] Use power-cycling method" \
  "(Check this box if the above doesn't work. After clicking Next you will use the power-cycling method. Do not disconnect the USB cable!)"
e2e_wait "│PROGRAMMING MODE" 60 # the console's line
e2e_keys n
e2e_wait "Firmware Image Transfer"
e2e_wait "% complete" 60
page_texts_whole "Firmware Image Transfer" "[ Cancel ]" "% complete"
frame_texts_whole
finish_with_the_tick
echo "full run: ok"
