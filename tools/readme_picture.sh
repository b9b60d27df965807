#!/usr/bin/env bash
# Makes the README's picture of the terminal wizard on its upload page: koralloader /SIMULATE in
# a 120 x 36 tmux pane, captured while the firmware is being written.
#   tools/readme_picture.sh [OUT.png]   (default docs/koralloader-upload.png)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
tools/deps.sh "${BUILD_PACKAGES[@]}" "${PICTURE_PACKAGES[@]}"
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)" --target koralloader
out=${1:-docs/koralloader-upload.png}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Slow enough that the capture catches the programming pass about a third of the way.
TMPDIR=$work tools/picture.sh "$out" 120 36 "35% complete" \
  build/linux/app/koralloader /SIMULATE "--sim-state=$work/instrument.state" --sim-speed=4
