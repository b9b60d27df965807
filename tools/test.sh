#!/usr/bin/env bash
# Installs what the tests need, builds the linux preset and runs every test with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
tools/deps.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
# The loader is also tested on real 32-bit DLLs: those of Wine.
tools/deps.sh --i386 "${I386_TEST_PACKAGES[@]}"

preset=${1:-linux}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)"
