#!/usr/bin/env bash
# Whole wizard runs under SIMULATE at several speeds while another job keeps every core busy:
# each upload, on a new instrument and on one loaded from its state file, must end with the tick
# (exit status 0). Prints one line per run and a summary; exit status 1 if any run failed.
#   bench/simulated_speeds.sh KORALLOADER [RUNS] [SPEED...]   (default: 3 runs at 1 10 100)
set -uo pipefail
koralloader=$1
runs=${2:-3}
shift $(( $# >= 2 ? 2 : 1 ))
speeds=("$@")
[ ${#speeds[@]} -gt 0 ] || speeds=(1 10 100)

work=$(mktemp -d)
load=()
cleanup() {
  for pid in "${load[@]}"; do kill "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
# The other job: one busy loop per core.
for _ in $(seq "$(nproc)"); do
  (while :; do :; done) &
  load+=($!)
done

calibration=$(for i in $(seq 0 63); do printf '%02X' $(( (i * 29 + 7) & 0xFF )); done)
failed=0 total=0
printf '%-6s %-6s %-4s %-7s %s\n' speed kind run status seconds
for speed in "${speeds[@]}"; do
  for kind in fresh saved; do
    for run in $(seq "$runs"); do
      dir=$work/$speed-$kind-$run
      mkdir -p "$dir"
      state=$dir/instrument.state
      new=("--sim-infoa=$calibration")
      if [ "$kind" = saved ]; then
        # Made and saved by one run, opened and closed at once; the upload loads it.
        echo c | TMPDIR=$dir "$koralloader" --plain /SIMULATE "--sim-state=$state" "${new[@]}" \
          --sim-operator=hands >"$dir/create.log" 2>&1
        new=()
      fi
      start=$(date +%s.%N)
      TMPDIR=$dir timeout 900 "$koralloader" --plain /SIMULATE "--sim-state=$state" "${new[@]}" \
        "--sim-speed=$speed" </dev/null >"$dir/run.log" 2>&1
      status=$?
      seconds=$(echo "$(date +%s.%N) - $start" | bc)
      printf '%-6s %-6s %-4s %-7s %.1f\n' "$speed" "$kind" "$run" "$status" "$seconds"
      total=$((total + 1))
      if [ "$status" != 0 ]; then
        failed=$((failed + 1))
        tail -n 5 "$dir/run.log" | sed 's/^/    /'
      fi
    done
  done
done
echo "$((total - failed)) of $total uploads ended with the tick"
[ "$failed" = 0 ]
