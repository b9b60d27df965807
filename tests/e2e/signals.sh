#!/usr/bin/env bash
# Line mode cut by signals during the upload: a first Ctrl+C only says that a second one quits,
# the second ends the program (130); SIGTERM ends it (143). Each time a line on standard error
# names the backup that holds the calibration, and the simulated instrument is saved as the cut
# left it: its flash no longer holds a whole release.
source "$(dirname "$0")/common.sh"
sim+=("--sim-infoa=$calibration")

# cut_at_programming SIGNAL...: starts an upload, sends the signals 0.5 s apart once the
# programming pass has begun; the exit status goes to $status.
cut_at_programming() {
  rm -f "$state" "$work"/KORLDR_INFOA_*
  "$koralloader" "${sim[@]}" </dev/null >"$work/out.txt" 2>"$work/err.txt" &
  local pid=$! i sig
  for i in $(seq 1 600); do
    grep -qF 'Program "' "$work/out.txt" && break
    sleep 0.1
  done
  grep -qF 'Program "' "$work/out.txt" || fail "no programming pass: $(cat "$work/out.txt")"
  for sig in "$@"; do
    sleep 0.5
    kill "-$sig" "$pid"
  done
  status=0
  wait "$pid" || status=$?
}

# The stderr line names one backup of this run, which holds the calibration.
check_cut() {
  local what=$1 backup
  backup=$(sed -n "s/^KoralLoader: $what ended the upload. The instrument's calibration (InfoA) is kept in //p" "$work/err.txt")
  [ -n "$backup" ] || fail "no line naming the backup: $(cat "$work/err.txt")"
  [[ "$backup" == "$work"/KORLDR_INFOA_*.TXT ]] || fail "not a backup of this run: $backup"
  [ "$(sed -n '2,5p' "$backup" | tr -d ' \r\n')" = "$calibration" ] || fail "the backup does not hold the calibration"
  [ -s "$state" ] || fail "the instrument was not saved"
  if "$koralbsl" --simulate "--sim-state=$state" -cCOM4 "-p$pkg/model_key.txt" +v "$pkg/image.txt" >/dev/null 2>&1; then
    fail "the saved instrument holds the whole release: not the state the cut left"
  fi
}

cut_at_programming INT INT
[ "$status" = 130 ] || fail "exit status $status after Ctrl+C twice"
grep -qF "(The upload is running: Close is disabled. Ctrl+C again within 3 s quits at once" "$work/out.txt" ||
  fail "the first Ctrl+C did not ask for a second: $(tail -5 "$work/out.txt")"
check_cut "Ctrl+C"

cut_at_programming TERM
[ "$status" = 143 ] || fail "exit status $status after SIGTERM"
check_cut "SIGTERM"
echo "signals: ok"
