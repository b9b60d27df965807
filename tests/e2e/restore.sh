#!/usr/bin/env bash
# An instrument whose InfoA reads blank, in an 80 x 24 terminal: the operator answers the box, picks the saved backup in
# the terminal file chooser by keys, and the instrument holds that InfoA again.
source "$(dirname "$0")/common.sh"
saved=$work/KORLDR_INFOA_260101_120000.TXT
{
  printf '@10C0\r\n'
  for row in 0 1 2 3; do
    line=
    for col in $(seq 0 15); do line+=$(printf ' %02X' $((row * 16 + col + 0x30))); done
    printf '%s\r\n' "${line# }"
  done
  printf 'q\r\n'
} >"$saved"
expected=$(for i in $(seq 0 63); do printf '%02X' $((i + 0x30)); done)
blank=$(printf 'F%.0s' $(seq 1 128))
e2e_start "${SMALL[@]}" "$koralloader" "${sim[@]}" --sim-operator=hands "--sim-infoa=$blank"
e2e_wait "Welcome to the Zantir KORAL Firmware Upload Wizard"
e2e_keys n
e2e_wait "Enter Programming Mode" 60
for _ in $(seq 1 300); do  # the console's marker enables Next
  e2e_keys n
  sleep 0.2
  e2e_screen | grep -qF "Firmware Image Transfer" && break
done
e2e_wait "InfoA is blank! You need to restore it from file" 120
e2e_keys Enter
e2e_wait "Find a saved InfoA file"
e2e_wait "KORLDR_INFOA_260101_120000.TXT"
e2e_screen | grep -qF "Saved InfoA Files (KORLDR_INFOA*.TXT)" || fail "no filter shown"
e2e_keys Down Down
e2e_wait "File name: KORLDR_INFOA_260101_120000.TXT"
e2e_keys Enter
e2e_wait "InfoA successfully restored. Hit Back to try again." 120
e2e_keys Enter
e2e_wait "failed" 60
e2e_keys c
status=$(e2e_exit_status 30)
[ "$status" = 2 ] || fail "exit status $status, not 2 (no upload finished)"
now=$(infoa_hex) || fail "InfoA could not be read"
[ "$now" = "$expected" ] || fail "the instrument does not hold the saved InfoA: $now"
# The chosen file was not made by this wizard: it stays, and nothing else is left.
left=$(cd "$work" && ls KORLDR_INFOA_* 2>/dev/null | tr '\n' ' ')
[ "$left" = "KORLDR_INFOA_260101_120000.TXT " ] || fail "backup files left: $left"
echo "restore: ok"
