#!/usr/bin/env bash
# Makes a PNG of a terminal program's screen: runs it in a tmux pane of the given size, waits
# until a text shows, captures the pane with its colours and renders it with ImageMagick.
#   tools/picture.sh OUT.png COLS ROWS "TEXT TO WAIT FOR" COMMAND...
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -lt 5 ]; then
  sed -n '2,4p' "$0" >&2
  exit 2
fi
out=$1 cols=$2 rows=$3 wait_for=$4
shift 4
source "$here/tests/e2e/tmux.sh"
trap e2e_stop EXIT
e2e_start "$cols" "$rows" "$@"
e2e_wait "$wait_for" "${PICTURE_WAIT_SECONDS:-120}"
sleep 0.3  # let the screen settle after the text appeared
e2e_screen -e -N | python3 "$here/tools/picture/ansi2png.py" "$cols" "$rows" "$out"
echo "picture: $out"
