#!/usr/bin/env bash
# The main job: builds the program and writes the embedded firmware into the simulated
# instrument with the BSL console tool, keeping InfoA across the mass erase.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
tools/deps.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)"

koralbsl=build/linux/tools/koralbsl/koralbsl
if [ ! -x "$koralbsl" ]; then
  echo "The BSL console tool is not built yet; nothing to run."
  exit 0
fi
"$koralbsl" --simulate -cCOM4 -m3 +aepvr res/package/image.txt
