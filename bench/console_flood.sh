#!/usr/bin/env bash
# The Windows wizard under a console flood, under Wine in a virtual X server: the service-mode page
# takes a console at full 115200-baud rate while another thread asks the window with
# SendMessageTimeout every 20 ms. Prints the slowest answer; reports, does not gate.
#   bench/console_flood.sh [seconds]   (KORAL_WINDOWS_BUILD: default build/windows)
set -euo pipefail
source "$(dirname "$0")/../tests/e2e/wine/lib.sh"
e2e_init "$@"
timeout 300 "$WINE" "$KORAL_WINDOWS_BUILD/bench/win32/console_flood_bench.exe" "${1:-10}" | tr -d '\r'
