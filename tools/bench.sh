#!/usr/bin/env bash
# Runs COMMAND with the simulated instrument behind a CP210x bridge that the system shows as a
# real one (umockdev's testbed); see `tools/bench.sh --help`. The bench comes from the build
# folder in KORAL_BUILD (default build/linux, the linux preset's).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORAL_BUILD:-$root/build/linux}
bench=$build/tools/bench/koral_bench
shim=$build/tools/bench/libkoral_bench_termios.so
if [ ! -x "$bench" ] || [ ! -f "$shim" ]; then
  echo "bench.sh: $bench not built (cmake --build --preset linux --target koral_bench; it needs libumockdev-dev)" >&2
  exit 69
fi
KORAL_BENCH_SHIM=$shim exec "$bench" "$@"
