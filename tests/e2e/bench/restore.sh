#!/usr/bin/env bash
# koralloader --plain under the bench with an instrument whose InfoA reads blank and a backup of
# its calibration kept in the temporary folder: the wizard says so, the operator picks the backup
# at the line-mode file prompt, the wizard writes it back, and the retry uploads to the tick.
# Not a CTest test (two real-time uploads, over a minute and a half).
#   restore.sh BUILD_DIR PACKAGE_DIR
source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/operator.sh"
begun=$SECONDS
saved=$work/KORLDR_INFOA_260101_120000.TXT
{
  printf '@10C0\r\n'
  for row in 0 1 2 3; do
    printf '%s\r\n' "$(echo "${calibration:row * 32:32}" | sed 's/../& /g; s/ $//')"
  done
  printf 'q\r\n'
} >"$saved"
start_wizard "--sim-infoa=$(printf 'F%.0s' $(seq 1 128))"
operate 600
[ "$status" = 0 ] || fail "exit status $status"
grep -qF "InfoA is blank! You need to restore it from file" "$work/out.txt" || fail "the blank InfoA was not reported"
grep -qF -- "-> $saved" "$work/out.txt" || fail "the backup was not chosen at the file prompt"
grep -qF "InfoA successfully restored. Hit Back to try again." "$work/out.txt" || fail "no restore"
((uploads == 2)) || fail "$uploads uploads, not 2"
now=$(infoa_hex) || fail "InfoA could not be read"
[ "$now" = "$calibration" ] || fail "the instrument does not hold the saved InfoA: $now"
check_release || fail "the instrument does not hold the release"
echo "bench restore: ok in $((SECONDS - begun)) s; backups left: $(cd "$work" && ls KORLDR_INFOA_* 2>/dev/null | tr '\n' ' ')"
