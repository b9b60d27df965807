# Shared by the bench's end-to-end tests: the programs run unmodified (no simulation switch)
# against the simulated instrument below the operating system (tools/bench.sh).
#   test.sh BUILD_DIR PACKAGE_DIR
set -euo pipefail
build=$1 pkg=$2
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
export KORAL_BUILD=$build
koralloader=$build/app/koralloader
koralbsl=$build/tools/koralbsl/koralbsl
work=$(mktemp -d)
export TMPDIR=$work
trap 'e2e_cleanup' EXIT
state=$work/instrument.state
# A calibration of our own, so that the InfoA check cannot pass by accident.
calibration=$(for i in $(seq 0 63); do printf '%02X' $(( (i * 53 + 7) & 0xFF )); done)
bench=("$root/tools/bench.sh" "--sim-state=$state" ${KORAL_BENCH_SPEED:+"--sim-speed=$KORAL_BENCH_SPEED"})
pid=

e2e_cleanup() {
  [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
  rm -rf "$work"
}

fail() {
  echo "bench e2e: $*" >&2
  [ ! -f "$work/out.txt" ] || tail -n 40 "$work/out.txt" >&2
  [ ! -s "$work/bench.txt" ] || tail -n 20 "$work/bench.txt" >&2
  exit 1
}

# wait_for TEXT SECONDS [AFTER_LINE]: TEXT appears in the program's output (from line AFTER_LINE on).
wait_for() {
  local text=$1 seconds=$2 after=${3:-1} i
  for ((i = 0; i < seconds * 10; i++)); do
    tail -n "+$after" "$work/out.txt" 2>/dev/null | grep -qF -- "$text" && return 0
    [ -z "$pid" ] || kill -0 "$pid" 2>/dev/null || fail "the program ended before \"$text\""
    sleep 0.1
  done
  fail "no \"$text\" within $seconds s"
}

lines() { wc -l <"$work/out.txt"; }

# bench_koralbsl ARG...: the console tool on the port the bench shows.
bench_koralbsl() {
  "${bench[@]}" -- sh -c 'exec "$0" "-c$KORAL_BENCH_PORT" "$@"' "$koralbsl" "$@"
}

# infoa_hex: InfoA as 128 hex digits, read through the bench, the blank password tried first.
infoa_hex() {
  bench_koralbsl "-p$pkg/blank_key.txt" -r10c0 40 "$work/infoa.txt" >"$work/koralbsl.log" 2>&1 ||
    bench_koralbsl "-p$pkg/model_key.txt" -r10c0 40 "$work/infoa.txt" >"$work/koralbsl.log" 2>&1 ||
    { cat "$work/koralbsl.log" >&2; return 1; }
  sed -n '2,5p' "$work/infoa.txt" | tr -d ' \r\n'
}

# check_release: the instrument holds the embedded release (the console tool's verify pass).
check_release() {
  bench_koralbsl "-p$pkg/model_key.txt" -s2 +v "$pkg/image.txt" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log" >&2; return 1; }
}
