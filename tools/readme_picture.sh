#!/usr/bin/env bash
# Makes the README's pictures of the terminal wizard on its upload page, captured while the
# firmware is being written: koralloader /SIMULATE in a tmux pane of 80 x 24 (the terminal most
# people open) and of 120 x 36 (a large one, where the pages keep their natural size).
#   tools/readme_picture.sh [OUT_DIR]   (default docs; KORAL_BUILD=folder to use a build folder
#                                        of your own instead of configuring build/linux)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
tools/deps.sh "${BUILD_PACKAGES[@]}" "${PICTURE_PACKAGES[@]}"
build=${KORAL_BUILD:-build/linux}
if [ -z "${KORAL_BUILD:-}" ]; then cmake --preset linux >/dev/null; fi
cmake --build "$build" -j "$(nproc)" --target koralloader
out=${1:-docs}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Slow enough that the capture catches the programming pass about a third of the way.
for size in "80 24 koralloader-upload-80x24.png" "120 36 koralloader-upload.png"; do
  read -r cols rows name <<<"$size"
  rm -f "$work/instrument.state"
  TMPDIR=$work tools/picture.sh "$out/$name" "$cols" "$rows" "35% complete" \
    "$build/app/koralloader" /SIMULATE "--sim-state=$work/instrument.state" --sim-speed=4
done
