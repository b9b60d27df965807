#!/usr/bin/env bash
# The console tool with no simulation switch, on the port the bench shows: the wizard's three
# driver runs, the program pass at 38400 baud (-s2), InfoA kept byte for byte.
source "$(dirname "$0")/common.sh"
run() {
  "${bench[@]}" "$@" >>"$work/out.txt" 2>&1
}
driver() {
  run -- sh -c "exec \"$koralbsl\" -c\$KORAL_BENCH_PORT $*"
}
run "--sim-infoa=$calibration" -- true
driver "-p$pkg/model_key.txt" -r10c0 40 "$work/before.txt" || fail "the first InfoA reading"
grep -qF "Read memory Start: 0x10C0 Length 64" "$work/out.txt" || fail "no read-out"
driver "-p$pkg/model_key.txt" -s2 -m3 +aepvr "$pkg/image.txt" || fail "the program pass"
grep -qF "Change Baudrate from 9600 to 38400 Baud" "$work/out.txt" || fail "no baud change"
grep -qF "Programming completed." "$work/out.txt" || fail "programming not completed"
driver "-p$pkg/model_key.txt" -r10c0 40 "$work/after.txt" || fail "the second InfoA reading"
cmp -s "$work/before.txt" "$work/after.txt" || fail "InfoA changed"
[ "$(sed -n '2,5p' "$work/after.txt" | tr -d ' \r\n')" = "$calibration" ] || fail "InfoA is not the calibration"
# A port the bench does not show fails as a real one would.
if driver "-p$pkg/model_key.txt" -c/dev/ttyUSB7 -r10c0 40 "$work/x.txt"; then fail "a missing port opened"; fi
echo "bench koralbsl: ok"
