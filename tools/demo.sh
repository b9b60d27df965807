#!/usr/bin/env bash
# The main job: builds the program and writes the embedded firmware into the simulated
# instrument with the BSL console tool, keeping InfoA across the mass erase.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
tools/deps.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)" --target koralbsl

koralbsl=build/linux/tools/koralbsl/koralbsl
if [ ! -x "$koralbsl" ]; then
  echo "The BSL console tool is not built yet; nothing to run."
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sim=(--simulate "--sim-state=$work/instrument.state")
pkg=res/package

echo "== 1. back up InfoA (the instrument still runs its old firmware: blank vectors)"
"$koralbsl" "${sim[@]}" -cCOM4 "-p$pkg/blank_key.txt" -r10c0 40 "$work/infoa_before.txt"
echo
echo "== 2. mass erase three times, keep InfoA, program and verify the embedded release"
"$koralbsl" "${sim[@]}" -cCOM4 "-p$pkg/blank_key.txt" -m3 +aepvr "$pkg/image.txt"
echo
echo "== 3. read InfoA again, now with the release's own password"
"$koralbsl" "${sim[@]}" -cCOM4 "-p$pkg/model_key.txt" -r10c0 40 "$work/infoa_after.txt"
echo
if cmp -s "$work/infoa_before.txt" "$work/infoa_after.txt"; then
  echo "InfoA is unchanged:"
  cat "$work/infoa_after.txt"
else
  echo "InfoA changed!" >&2
  diff "$work/infoa_before.txt" "$work/infoa_after.txt" >&2
  exit 1
fi
