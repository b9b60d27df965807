#!/usr/bin/env bash
# Without a terminal the wizard prints itself as lines and, under the simulated operator, ends
# by itself with the upload's exit status, leaving no InfoA backup behind.
E2E_SIM_SPEED=${E2E_SIM_SPEED:-100}  # no screen to watch: the lines are read at the end
source "$(dirname "$0")/common.sh"
status=0
"$koralloader" "${sim[@]}" </dev/null >"$work/out.txt" 2>&1 || status=$?
for text in "== Zantir KORAL Firmware Upload Wizard - ZantirKORAL-VKT-" \
            "Welcome to the Zantir KORAL Firmware Upload Wizard" "Please connect the device now." \
            "Enter Programming Mode" "PROGRAMMING MODE" "Firmware Image Transfer" "100% complete" \
            "ZantirKORAL" "It is now safe to remove the USB cable." "Result: done (green tick)"; do
  grep -qF -- "$text" "$work/out.txt" || { cat "$work/out.txt"; echo "missing: $text" >&2; exit 1; }
done
head -n 1 "$work/out.txt" | grep -q "^== Zantir KORAL" || { cat "$work/out.txt"; echo "the caption is not first" >&2; exit 1; }
[ "$status" = 0 ] || { cat "$work/out.txt"; echo "exit status $status" >&2; exit 1; }
if compgen -G "$work/KORLDR_INFOA_*" >/dev/null; then echo "backup files left" >&2; exit 1; fi
echo "line mode: ok"
