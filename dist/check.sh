#!/usr/bin/env bash
# The release artefacts as CI checks them (run as root on a Debian machine, from the tree's top):
#   dist/check.sh deb BUILD          the package made in BUILD installed, run from the installed
#                                    files, removed, and nothing of it left
#   dist/check.sh zip BUILD AGAIN    the Windows archive made in BUILD (a windows preset build)
#                                    and in AGAIN (a second build of its programs): the same bytes
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
tools/deps.sh "${RELEASE_PACKAGES[@]}"
version=$(head -n 1 res/version/VERSION)
IFS=. read -r major minor patch build <<<"$version"
label="$major.$minor.$patch (build $build)"
fail() { echo "FAILED: $*" >&2; exit 1; }

check_deb() {
  local dir=$1 deb
  cmake --build "$dir" --target koralloader koralbsl >/dev/null
  (cd "$dir" && cpack -G DEB >/dev/null)
  deb=$PWD/$dir/koralloader_${version}_$(dpkg --print-architecture).deb
  [ -f "$deb" ] || fail "no $deb"
  dpkg-deb -f "$deb" Depends
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
  local files
  files=$(dpkg -L koralloader)
  for f in /usr/bin/koralloader /usr/bin/koralbsl /usr/share/man/man1/koralloader.1.gz \
           /usr/share/man/man1/koralbsl.1.gz /usr/share/doc/koralloader/copyright; do
    grep -qx "$f" <<<"$files" || fail "$f is not in the package"
  done
  grep -q '/udev/rules.d/70-koral-cp210x.rules$' <<<"$files" || fail "no udev rules in the package"

  local work status=0
  work=$(mktemp -d)
  cd "$work"  # nothing of the tree within reach
  /usr/bin/koralloader --help | grep -q '^usage: KoralLoader' || fail "koralloader --help"
  [ "$(/usr/bin/koralloader --version | head -n 1)" = "koralloader $label" ] || fail "koralloader --version"
  [ "$(/usr/bin/koralbsl --version | head -n 1)" = "koralbsl $label" ] || fail "koralbsl --version"
  /usr/bin/koralbsl </dev/null >usage.txt 2>&1 || status=$?
  [ "$status" = 1 ] && grep -q '^KORALBSL \[-h\]' usage.txt || fail "koralbsl without arguments (status $status)"
  # A whole simulated upload from the installed program; five times real time keeps the frame
  # layer's time-outs well clear of a busy machine.
  mkdir tmp
  status=0
  TMPDIR=$work/tmp timeout 300 /usr/bin/koralloader --plain /SIMULATE --sim-speed=5 </dev/null >wizard.txt 2>&1 || status=$?
  tail -n 3 wizard.txt
  [ "$status" = 0 ] || fail "the simulated upload ended with status $status"
  grep -q '^Result: done (green tick)' wizard.txt || fail "no green tick"
  grep -qx "Version $major.$minor.$patch (Build $build)" wizard.txt || fail "the version label"
  [ -z "$(ls -A tmp)" ] || fail "files left in TMPDIR: $(ls tmp)"
  cd - >/dev/null
  rm -rf "$work"

  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq koralloader >/dev/null
  ! dpkg -s koralloader >/dev/null 2>&1 || fail "koralloader is still installed"
  local left=""
  while read -r f; do
    [ -d "$f" ] && [ "$f" != /usr/share/doc/koralloader ] && continue  # folders others share
    [ -e "$f" ] && left+=" $f"
  done <<<"$files"
  [ -z "$left" ] || fail "left after removal:$left"
  echo "koralloader_${version}: installed, ran, removed without a trace"
}

check_zip() {
  local dir=$1 again=$2 name=KoralLoader-${version}-win32.zip
  cmake --build "$dir" --target KoralLoader koralbsl >/dev/null  # cpack installs, it does not build
  (cd "$dir" && cpack -G ZIP >/dev/null)
  cmake --preset windows -B "$again" >/dev/null
  cmake --build "$again" -j "$(nproc)" --target KoralLoader koralbsl >/dev/null
  (cd "$again" && cpack -G ZIP >/dev/null)
  [ -f "$dir/$name" ] && [ -f "$again/$name" ] || fail "no $name"
  unzip -l "$dir/$name"
  cmp "$dir/$name" "$again/$name" || fail "the two builds of $name differ"
  local work
  work=$(mktemp -d)
  unzip -q "$dir/$name" -d "$work"
  (cd "$work/${name%.zip}" && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS"
  rm -rf "$work"
  echo "$name: $(sha256sum <"$dir/$name" | cut -c1-16)... from both builds"
}

case "${1:-}" in
  deb) check_deb "$2" ;;
  zip) check_zip "$2" "$3" ;;
  *) echo "usage: dist/check.sh deb BUILD | zip BUILD AGAIN" >&2; exit 2 ;;
esac
