#!/usr/bin/env bash
# The console tool with no simulation switch, on the port the bench shows: the wizard's three
# driver runs, the program pass at 38400 baud (-s2), InfoA kept byte for byte, and the entry
# sequence as the MSP430's pins saw it.
source "$(dirname "$0")/common.sh"
run() {
  "${bench[@]}" "$@" >>"$work/out.txt" 2>&1
}
driver() {
  bench_koralbsl "$@" >>"$work/out.txt" 2>&1
}
run "--sim-infoa=$calibration" -- true
run "--pins=$work/pins.txt" -- sh -c "exec \"$koralbsl\" -c\$KORAL_BENCH_PORT -p$pkg/model_key.txt -r10c0 40 $work/before.txt" ||
  fail "the first InfoA reading"
# The pins as the MSP430 saw them. Its loader starts when RST rises while TEST is high after two
# rising TEST edges with RST low; every level held for a while, not a glitch. One line per
# release of RST: how long it was low, the TEST edges meanwhile, TEST at the release, the
# shortest TEST level, and how long TEST stayed high after the release.
awk '
  $2 == "RST" && $3 == 0 { low = $1; rises = 0; shortest = -1; last = $1; rstLow = 1 }
  $2 == "TEST" {
    if (rstLow) { hold = $1 - last; if (shortest < 0 || hold < shortest) shortest = hold; last = $1; if ($3 == 1) rises++ }
    else if (released && $3 == 0) { printf " high-after=%d\n", ($1 - release) / 1000; released = 0 }
    test = $3
  }
  $2 == "RST" && $3 == 1 {
    if (released) printf "\n"
    printf "low=%d rises=%d test=%d shortest=%d", (low ? ($1 - low) / 1000 : 0), rises, test, shortest / 1000
    rstLow = 0; released = 1; release = $1
  }
  END { if (released) printf "\n" }' "$work/pins.txt" >"$work/resets.txt"
cat "$work/resets.txt" >>"$work/out.txt"
read -r entry <"$work/resets.txt"
[[ "$entry" =~ ^low=([0-9]+)\ rises=2\ test=1\ shortest=([0-9]+)\ high-after=([0-9]+)$ ]] ||
  fail "the entry sequence: $entry"
(( BASH_REMATCH[1] >= 40 && BASH_REMATCH[2] >= 5 && BASH_REMATCH[3] >= 5 )) || fail "the entry sequence's times: $entry"
grep -qE "^low=[0-9]+ rises=0 test=[01] " "$work/resets.txt" || fail "no plain reset at the end of the run"
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
