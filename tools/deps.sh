#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are not installed yet.
# Usage: tools/deps.sh [--i386] PACKAGE...   (--i386 enables the i386 architecture first)
set -euo pipefail

need_i386=0
if [ "${1:-}" = "--i386" ]; then
  need_i386=1
  shift
fi

missing=()
for pkg in "$@"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO=sudo; else
    echo "Missing packages: ${missing[*]}; run as root or install them." >&2
    exit 1
  fi
else
  SUDO=
fi

if [ $need_i386 -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
