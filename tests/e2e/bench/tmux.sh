#!/usr/bin/env bash
# koralloader as an operator starts it, in an 80 x 24 terminal, against the instrument below the
# operating system, its InfoA blank: the operator answers the box, picks the kept backup in the
# file chooser by keys, goes Back as the wizard says, and the retry uploads to the tick. The
# bench's operator does the physical steps (asked to on the second connect page); the test reads
# the screen and presses the keys.
source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/../tmux.sh"
trap 'e2e_stop; e2e_cleanup' EXIT
fail() {
  echo "bench tmux: $*" >&2
  e2e_screen >&2 || true
  exit 1
}
saved=$work/KORLDR_INFOA_260101_120000.TXT
{
  printf '@10C0\r\n'
  for row in 0 1 2 3; do printf '%s\r\n' "$(echo "${calibration:row * 32:32}" | sed 's/../& /g; s/ $//')"; done
  printf 'q\r\n'
} >"$saved"

# next_until TEXT: Next until TEXT shows (the console's marker enables it on the service-mode page).
next_until() {
  local _
  for _ in $(seq 1 300); do
    e2e_keys n
    sleep 0.2
    e2e_screen | grep -qF "$1" && return 0
  done
  fail "no \"$1\" after Next"
}

e2e_start 80 24 "${bench[@]}" "--sim-infoa=$(printf 'F%.0s' $(seq 1 128))" -- \
  sh -c 'echo "$KORAL_BENCH_CONTROL" >"$0"; exec "$@"' "$work/control.path" "$koralloader"
e2e_wait "Welcome to the Zantir KORAL Firmware Upload Wizard" 20 || fail "no welcome page"
e2e_keys n
e2e_wait "Enter Programming Mode" 60 || fail "no service-mode page"
next_until "Firmware Image Transfer"
e2e_wait "InfoA is blank! You need to restore it from file" 120 || fail "the blank InfoA was not reported"
e2e_keys Enter
e2e_wait "KORLDR_INFOA_260101_120000.TXT" 20 || fail "the file chooser does not list the backup"
e2e_keys Down Down
e2e_wait "File name: KORLDR_INFOA_260101_120000.TXT" 10 || fail "the backup cannot be chosen"
e2e_keys Enter
e2e_wait "InfoA successfully restored. Hit Back to try again." 120 || fail "no restore"
e2e_keys Enter
e2e_wait "failed" 30 || fail "the restore's upload page did not end"
e2e_keys b
e2e_wait "Welcome to the Zantir KORAL Firmware Upload Wizard" 30 || fail "Back did not lead to the welcome page"
e2e_keys n
e2e_wait "Please connect the device now." 20 || fail "no connect page"
echo connect >"$(cat "$work/control.path")"  # the bench's operator does what the page asks
e2e_wait "Enter Programming Mode" 60 || fail "no service-mode page"
next_until "Firmware Image Transfer"
e2e_wait "It is now safe to remove the USB cable." 240 || fail "no end of the upload"
e2e_screen | grep -qF "100% complete" || fail "no 100% complete"
e2e_screen | grep -qF " ✔ " || fail "no green tick"
e2e_keys c
status=$(e2e_exit_status 30) || fail "the wizard did not end"
[ "$status" = 0 ] || fail "exit status $status"
now=$(infoa_hex) || fail "InfoA could not be read"
[ "$now" = "$calibration" ] || fail "the instrument does not hold the saved InfoA: $now"
check_release || fail "the instrument does not hold the release"
# The chosen file was not made by this wizard: it stays, and nothing else is left.
left=$(cd "$work" && ls KORLDR_INFOA_* 2>/dev/null | tr '\n' ' ')
[ "$left" = "KORLDR_INFOA_260101_120000.TXT " ] || fail "backup files left: $left"
echo "bench tmux: ok"
