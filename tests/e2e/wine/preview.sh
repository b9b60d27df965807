#!/usr/bin/env bash
# Every page template in the wizard frame, made by Wine's dialog manager from the Windows build's
# resources (dialog_preview.exe): a screenshot each, the texts read back, closed with Close.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
e2e_init "$@"

caption='Zantir KORAL Firmware Upload Wizard'
for page in 136 141 142 143 139; do
  e2e_start 60 "preview-$page" "$KORAL_WINDOWS_BUILD/tools/winprobe/dialog_preview.exe" "$page"
  wid=$(e2e_find "^$caption" 30)
  e2e_shot "$wid" "preview-$page"
  texts=$(e2e_texts "$caption")
  printf '%s\n' "$texts" >"$KORAL_E2E_OUT/preview-$page.txt"
  e2e_expect_text "$texts" "Next >"
  case $page in
    136) e2e_expect_text "$texts" "Welcome to the Zantir KORAL Firmware Upload Wizard" ;;
    141) e2e_expect_text "$texts" "Please connect the device now." ;;
    142) e2e_expect_text "$texts" "Use power-cycling method" ;;
    143) e2e_expect_text "$texts" "6) Click the Next button" ;;
    139) e2e_expect_text "$texts" "Firmware Image Transfer" ;;
  esac
  e2e_click "$caption" 2
  e2e_wait
  [ "$E2E_STATUS" -eq 0 ] || e2e_fail "page $page: exit status $E2E_STATUS"
  e2e_gone "^$caption" 10
done
e2e_log "all pages shown and closed"
