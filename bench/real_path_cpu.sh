#!/usr/bin/env bash
# The CPU koralloader takes on the real serial path (no simulation switch), under the bench:
# on the service-mode page while no byte comes, and through a whole upload at 9600 baud. Reports,
# does not gate. Usage: bench/real_path_cpu.sh [BUILD_DIR]   (default build/linux)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/linux}
export KORAL_BUILD=$build
work=$(mktemp -d)
export TMPDIR=$work
pid=
trap '[ -z "$pid" ] || kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
hz=$(getconf CLK_TCK)

wait_for() {  # TEXT SECONDS [FROM_LINE]
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    tail -n "+${3:-1}" "$work/out.txt" | grep -qF -- "$1" && return 0
    sleep 0.1
  done
  echo "no \"$1\" within $2 s" >&2
  tail -n 20 "$work/out.txt" >&2
  exit 1
}
# CPU ticks (user + system) of the program so far.
ticks() { awk '{ print $14 + $15 }' "/proc/$program/stat"; }
now() { date +%s.%N; }
share() { awk -v t="$1" -v s="$2" -v hz="$hz" 'BEGIN { printf "%.1f%% of a core (%.2f s CPU in %.1f s)", 100 * t / hz / s, t / hz, s }'; }

mkfifo "$work/keys"
"$root/tools/bench.sh" "--sim-state=$work/state" -- "$build/app/koralloader" --plain <"$work/keys" >"$work/out.txt" 2>&1 &
pid=$!
exec 3>"$work/keys"
wait_for "(commands:" 20
program=$(pgrep -f -n "^$build/app/koralloader --plain")
echo n >&3
wait_for "Enter Programming Mode" 30
mark=$(wc -l <"$work/out.txt")
wait_for "(Next is enabled)" 30 "$mark"
sleep 1
t0=$(ticks) s0=$(now)
sleep 10
t1=$(ticks) s1=$(now)
echo "service-mode page, no bytes: $(share $((t1 - t0)) "$(awk -v a="$s0" -v b="$s1" 'BEGIN { print b - a }')")"
echo n >&3
wait_for "Firmware has been uploaded." 300
t2=$(ticks) s2=$(now)
echo "upload (InfoA, program, InfoA, bridge reset): $(share $((t2 - t1)) "$(awk -v a="$s1" -v b="$s2" 'BEGIN { print b - a }')")"
wait_for "Result:" 60
echo c >&3
wait "$pid" || true
pid=
