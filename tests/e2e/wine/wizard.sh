#!/usr/bin/env bash
# KoralLoader.exe under Wine, checked from outside: usage: wizard.sh SCENARIO...
#   full      /SIMULATE with the simulated operator: every page shot as it comes, the tick, exit
#             status 0; then, read from the instrument's state file with the Linux koralbsl, InfoA
#             is the calibration the instrument started with and the flash holds the release, and
#             no InfoA backup is left in the program's temporary directory; the backups the log
#             names carry the local time of the run. The temporary directory, where the backups
#             go, is a folder named in Greek and Japanese letters, which no ANSI code page holds
#   skipservice  /SKIPSERVICE: the power-cycling page first with Back disabled, Next once the bridge
#             is back, then the upload to its tick, exit status 0, the same checks from outside;
#             started by its bare name at a command prompt, and the version label still shows
#   restore   a blank InfoA and a saved backup in the temporary directory: the blank box, the
#             file picked in the system's open-file dialog, the success box, the cross, exit
#             status 2; the instrument then holds the saved InfoA and the chosen file is gone
#   readme    full, then its welcome, service-mode and finished-upload shots into docs/screenshots/
#   help      a windowed (GUI subsystem) program whose --help and /? still print the usage on
#             standard output (Wine always gives it one: the box for no output is not reached)
#   serial    no simulation inside the program: KoralLoader.exe through Wine's own serial and
#             registry code to a pseudo-terminal that Wine's dosdevices\com5 names, whose other side
#             is the simulated instrument (tools/wine_bench); the bridge's Enum key written with
#             `reg add`, only the USB listing and reset from a file (--bridge-list); the bench's
#             operator does the physical steps, the script clicks; the tick, exit status 0, InfoA
#             kept and the release in flash, read from the instrument's state file
#   serialtool  the same path with koralbsl.exe -cCOM5 (no --simulate): the whole upload, exit 0
#   damaged   a copy of the program whose embedded vendor DLL has its PE signature broken: the one
#             box "Could not load CP210xManufacturing.dll from memory", no wizard, exit status 3
set -euo pipefail
# A zone far from UTC, named as Linux names it: Wine follows it, and so must the backup names
# (the C runtime's localtime would read this TZ as UTC).
export TZ=Asia/Tokyo
source "$(dirname "$0")/lib.sh"
e2e_init "$@"

program=$KORAL_WINDOWS_BUILD/app/KoralLoader.exe
wizard='^Zantir KORAL Firmware Upload Wizard'
pkg=$E2E_ROOT/res/package
linux_build=${KORAL_LINUX_BUILD:-$E2E_ROOT/build/linux}
koralbsl=$linux_build/tools/koralbsl/koralbsl
wine_bench=$linux_build/tools/wine_bench/koral_wine_bench
wine_shim=$linux_build/tools/wine_bench/libkoral_wine_serial.so
# A calibration of our own, so the checks below cannot pass by accident.
calibration=$(for i in $(seq 0 63); do printf '%02X' $(((i * 37 + 11) & 0xFF)); done)

# Breaks the "PE\0\0" signature of the DLL embedded in a copy of the program (the second DOS
# header in the file; the first is the program's own). Prints nothing when it carries none.
damage_embedded_dll() {
  local file=$1 offsets start lfanew
  offsets=$(grep -obUa "This program cannot be run in DOS mode" "$file" | cut -d: -f1 | sed -n 2p)
  [ -n "$offsets" ] || return 0
  start=$((offsets - 0x4E))  # where the DOS stub's text sits after the DOS header
  [ "$(dd if="$file" bs=1 skip="$start" count=2 2>/dev/null)" = "MZ" ] || e2e_fail "no DOS header before the DLL's stub"
  lfanew=$(od -An -tu4 -j $((start + 0x3C)) -N4 "$file" | tr -d ' ')
  [ "$(dd if="$file" bs=1 skip=$((start + lfanew)) count=2 2>/dev/null)" = "PE" ] || e2e_fail "no PE signature in the DLL"
  printf 'XX' | dd of="$file" bs=1 seek=$((start + lfanew)) conv=notrunc 2>/dev/null
  echo "$((start + lfanew))"
}

scenario_damaged() {
  local copy=$KORAL_E2E_OUT/KoralLoader-damaged.exe at texts
  cp "$program" "$copy"
  at=$(damage_embedded_dll "$copy")
  if [ -n "$at" ]; then e2e_log "embedded DLL's signature broken at byte $at"; else
    e2e_log "the program carries no vendor DLL: the loader gets no data, which must end the same way"
  fi
  e2e_start 60 damaged "$copy" /SIMULATE
  wid=$(e2e_find '^KoralLoader$' 30)
  e2e_shot "$wid" damaged-box
  texts=$(e2e_texts KoralLoader)
  e2e_expect_text "$texts" "Could not load CP210xManufacturing.dll from memory"
  xdotool search --onlyvisible --name "$wizard" >/dev/null 2>&1 && e2e_fail "a wizard window came up"
  e2e_click KoralLoader 1  # OK
  e2e_wait
  [ "$E2E_STATUS" -eq 3 ] || e2e_fail "damaged: exit status $E2E_STATUS, expected 3"
  e2e_log "damaged: one box, no wizard, exit status 3"
}

scenario_help() {
  local pe subsystem out
  pe=$(od -An -tu4 -j 60 -N4 "$program" | tr -d ' ')
  subsystem=$(od -An -tu2 -j $((pe + 92)) -N2 "$program" | tr -d ' ')
  [ "$subsystem" = 2 ] || e2e_fail "help: the program's subsystem is $subsystem, not 2 (windows GUI)"
  for arg in --help '/?'; do
    out=$(timeout 60 "$WINE" "$program" "$arg" 2>/dev/null | tr -d '\r')
    grep -q '^usage: KoralLoader' <<<"$out" || e2e_fail "help: $arg printed no usage"
  done
  e2e_log "help: a GUI program; --help and /? print the usage on standard output"
}

# Polls the wizard's controls until `done_when` (a grep pattern over wintexts' lines) matches;
# shoots each page the first time one of the `pages` texts shows. Fails after `limit` seconds.
declare -A shot_pages
watch_wizard() {
  local prefix=$1 limit=$2 done_when=$3 start=$SECONDS texts wid name text
  shift 3
  while [ $((SECONDS - start)) -lt "$limit" ]; do
    texts=$(e2e_texts "Zantir KORAL" || true)
    [ -z "$texts" ] || printf '%s\n' "$texts" >"$KORAL_E2E_OUT/$prefix-last.txt"
    for page in "$@"; do
      name=${page%%=*} text=${page#*=}
      if [ -z "${shot_pages[$prefix-$name]:-}" ] && printf '%s\n' "$texts" | grep -q -- "$text"; then
        wid=$(xdotool search --onlyvisible --name "$wizard" | head -n 1 || true)
        e2e_shot "$wid" "$prefix-$name"
        shot_pages[$prefix-$name]=1
      fi
    done
    if printf '%s\n' "$texts" | grep -q -- "$done_when"; then return 0; fi
    if ! kill -0 "$E2E_PID" 2>/dev/null; then
      e2e_wait
      e2e_fail "$prefix: the program ended early with exit status $E2E_STATUS"
    fi
    sleep 1.5  # each look starts a Wine process: sparingly, the upload runs at line speed
  done
  e2e_fail "$prefix: \"$done_when\" not seen within $limit s"
}

# Waits for the upload page's result icon; anything but the tick fails with the page's log.
upload_to_the_tick() {
  watch_wizard "$1" 500 $'^106[234]\tStatic\tev' $'upload=^1049\tStatic\tev'
  e2e_shot "$(e2e_find "$wizard" 5)" "$1-upload-done"
  if ! grep -qa $'^1062\tStatic\tev' "$KORAL_E2E_OUT/$1-last.txt"; then
    grep -a $'^1061\t' "$KORAL_E2E_OUT/$1-last.txt" | sed 's/\\n/\n/g' | tail -n 8 >&2
    e2e_fail "$1: the upload ended without the tick"
  fi
}

winpath() { printf 'Z:%s' "${1//\//\\}"; }

# The Linux console tool reads the state file the wizard saved; built here when CI has not yet.
need_koralbsl() {
  [ -x "$koralbsl" ] && return 0
  e2e_log "building the Linux koralbsl"
  (cd "$E2E_ROOT" && cmake --preset linux >/dev/null && cmake --build --preset linux -j2 --target koralbsl >/dev/null) ||
    e2e_fail "cannot build koralbsl"
}

# infoa_of <state> <out> <key file>...: InfoA of that instrument as TI-TXT, with the first key
# that opens it.
infoa_of() {
  local state=$1 out=$2 key
  shift 2
  for key in "$@"; do
    "$koralbsl" --simulate "--sim-state=$state" -cCOM4 "-p$pkg/$key" -r10c0 40 "$out" >"$out.log" 2>&1 && return 0
  done
  cat "$out.log" >&2
  e2e_fail "koralbsl cannot read InfoA from $state"
}

# hex_of <TI-TXT file of @10C0>: its 64 bytes as 128 hex digits.
hex_of() {
  [ "$(head -n 1 "$1" | tr -d '\r')" = "@10C0" ] || e2e_fail "$1 does not start at 10C0"
  sed -n '2,5p' "$1" | tr -d ' \r\n'
}

no_backups_left() {
  if compgen -G "$E2E_TEMP/KORLDR_INFOA_*" >/dev/null; then
    e2e_fail "$1: backup files left: $(cd "$E2E_TEMP" && ls KORLDR_INFOA_*)"
  fi
}

# The instrument kept its calibration and holds the release (its own password opens it, and its
# flash verifies against the image); no backup is left.
check_instrument() {
  local name=$1 state=$KORAL_E2E_OUT/$1.state
  infoa_of "$state" "$KORAL_E2E_OUT/$name-infoa.txt" model_key.txt
  [ "$(hex_of "$KORAL_E2E_OUT/$name-infoa.txt")" = "$calibration" ] ||
    e2e_fail "$name: InfoA is not the calibration the instrument started with"
  "$koralbsl" --simulate "--sim-state=$state" -cCOM4 "-p$pkg/model_key.txt" +v "$pkg/image.txt" \
    >"$KORAL_E2E_OUT/$name-verify.log" 2>&1 || e2e_fail "$name: the flash does not verify against the release"
  no_backups_left "$name"
  e2e_log "$name: InfoA kept byte for byte, the release in flash, no backup left"
}

# start_wizard <name> <InfoA as 128 hex digits> [switch...]: a new simulated instrument with that
# InfoA in the state file build/e2e/<name>.state, and no backup left from earlier runs. The
# simulated operator does the physical steps (cable, On switch); the clicks are ours.
start_wizard() {
  local name=$1 infoa=$2
  shift 2
  need_koralbsl
  rm -f "$KORAL_E2E_OUT/$name.state" "$E2E_TEMP"/KORLDR_INFOA_*
  local -a run=("$program")
  [ -z "${launch:-}" ] || read -ra run <<<"$launch"
  e2e_start 600 "$name" "${run[@]}" /SIMULATE "$@" --sim-operator=hands \
    "--sim-state=$(winpath "$KORAL_E2E_OUT/$name.state")" "--sim-infoa=$infoa"
  e2e_find "$wizard" 60 >/dev/null
}

# From the welcome page through the service-mode page into the upload, shooting each page.
to_the_upload() {
  watch_wizard "$1" 60 $'^1018\tStatic\tev' $'welcome=^1018\tStatic\tev'
  e2e_click "Zantir KORAL" 12324
  watch_wizard "$1" 120 $'^1060\tEdit\tev\t.*PROGRAMMING MODE' \
    $'connect=^-1\tStatic\tev\tPlease connect' $'service=^1060\tEdit\tev\t.*PROGRAMMING MODE'
  e2e_click "Zantir KORAL" 12324
}

# The backups the log names carry the local time of their reading (Wine's, which is the host's).
backup_names_in_time() {
  local name stamp
  for name in $(grep -ao 'KORLDR_INFOA_[0-9]*_[0-9]*' "$KORAL_E2E_OUT/$1-last.txt" | sort -u); do
    stamp=${name#KORLDR_INFOA_}
    [[ ! "$stamp" < "$2" && ! "$stamp" > "$3" ]] || e2e_fail "$1: backup $name not made between $2 and $3"
  done
  [ -n "${name:-}" ] || e2e_fail "$1: the log names no backup"
}

# The prefix's temporary directory moved into (or back from) a folder named with letters no ANSI
# code page of a Western system holds. Wine reads its command line in the locale's encoding.
temp_abroad() {
  local folder='koral-Ωμέγα-日本'
  E2E_TEMP_HOME=$E2E_TEMP TEMP_HOME=$(timeout 30 "$WINE" cmd /c 'echo %TMP%' 2>/dev/null | tr -d '\r')
  E2E_TEMP=$WINEPREFIX/drive_c/$folder
  mkdir -p "$E2E_TEMP"
  LC_ALL=C.UTF-8 e2e_reg 'HKCU\Environment' TMP REG_SZ "C:\\$folder"
  LC_ALL=C.UTF-8 e2e_reg 'HKCU\Environment' TEMP REG_SZ "C:\\$folder"
}
temp_home() {
  E2E_TEMP=$E2E_TEMP_HOME
  e2e_reg 'HKCU\Environment' TMP REG_SZ "$TEMP_HOME"
  e2e_reg 'HKCU\Environment' TEMP REG_SZ "$TEMP_HOME"
}

scenario_full() {
  local began
  temp_abroad
  began=$(date +%y%m%d_%H%M%S)
  start_wizard full "$calibration"
  to_the_upload full
  upload_to_the_tick full
  backup_names_in_time full "$began" "$(date +%y%m%d_%H%M%S)"
  e2e_click "Zantir KORAL" 2
  e2e_wait
  [ "$E2E_STATUS" -eq 0 ] || e2e_fail "full: exit status $E2E_STATUS, expected 0"
  e2e_log "full: every page, the tick, exit status 0, the backups in a folder of Greek and Japanese letters"
  check_instrument full
  temp_home
}

scenario_skipservice() {
  local texts version
  # Typed at a command prompt in its folder: the first argument is then the bare name.
  cd "$(dirname "$program")"
  launch="cmd /c KoralLoader" start_wizard skipservice "$calibration" /skipservice
  cd "$E2E_ROOT"
  watch_wizard skipservice 60 $'^-1\tStatic\tev\tPlease follow these steps' \
    $'power-cycling=^-1\tStatic\tev\tPlease follow these steps'
  texts=$(e2e_texts "Zantir KORAL")
  printf '%s\n' "$texts" | grep -q $'^12323\tButton\tv\t' || e2e_fail "skipservice: Back is not disabled"
  version=$(cat "$E2E_ROOT/res/version/VERSION")
  printf '%s\n' "$texts" | grep -qF $'1052\tStatic\tv\tVersion '"${version%.*} (Build ${version##*.})" ||
    e2e_fail "skipservice: no version label"
  watch_wizard skipservice 120 $'^12324\tButton\tev'
  sleep 3  # steps 5 and 6: the power cables go back in before Next, as a person following them does
  e2e_click "Zantir KORAL" 12324
  upload_to_the_tick skipservice
  e2e_click "Zantir KORAL" 2
  e2e_wait
  [ "$E2E_STATUS" -eq 0 ] || e2e_fail "skipservice: exit status $E2E_STATUS, expected 0"
  e2e_log "skipservice: power-cycling page first, the tick, exit status 0"
  check_instrument skipservice
}

# answer_box <shot name> <text>: the application's box with that text, shot and answered with OK.
answer_box() {
  local wid
  wid=$(e2e_find '^KoralLoader$' 120)
  e2e_shot "$wid" "$1"
  e2e_expect_text "$(e2e_texts KoralLoader)" "$2"
  e2e_click KoralLoader 1
  e2e_gone '^KoralLoader$' 10
}

# A blank InfoA and a backup saved earlier in the temporary directory: the box, the system's
# open-file dialog (title, filter, folder), the file picked there, the success box, and the
# instrument holding the saved InfoA again; the chosen file, which the wizard did not make, kept.
scenario_restore() {
  local saved=KORLDR_INFOA_260101_120000.TXT dialog='^Find a saved InfoA file$' texts row
  start_wizard restore "$(printf 'F%.0s' $(seq 1 128))"
  {
    printf '@10C0\r\n'
    for row in 0 32 64 96; do printf '%s\r\n' "$(echo "${calibration:$row:32}" | sed 's/../& /g; s/ $//')"; done
    printf 'q\r\n'
  } >"$E2E_TEMP/$saved"
  to_the_upload restore
  answer_box restore-blank-box "InfoA is blank! You need to restore it from file"
  e2e_shot "$(e2e_find "$dialog" 30)" restore-dialog
  texts=$(e2e_texts "Find a saved InfoA file")
  printf '%s\n' "$texts" >"$KORAL_E2E_OUT/restore-dialog.txt"
  e2e_expect_text "$texts" "Saved InfoA Files"
  printf '%s\n' "$texts" | grep -q $'^1137\tComboBox\t.*\t'"$(basename "$E2E_TEMP")"'$' ||
    e2e_fail "restore: the dialog does not open in the temporary directory"
  timeout 30 "$WINE" "$E2E_WINTEXTS" "Find a saved InfoA file" --type 1148 "$saved" >/dev/null 2>&1 ||
    e2e_fail "restore: cannot type the file name"
  e2e_shot "$(e2e_find "$dialog" 5)" restore-dialog-chosen
  e2e_click "Find a saved InfoA file" 1  # Open
  e2e_gone "$dialog" 10
  answer_box restore-restored-box "InfoA successfully restored. Hit Back to try again."
  watch_wizard restore 60 $'^106[234]\tStatic\tev'
  e2e_shot "$(e2e_find "$wizard" 5)" restore-upload-ended
  grep -qa $'^1063\tStatic\tev' "$KORAL_E2E_OUT/restore-last.txt" || e2e_fail "restore: the upload did not end with the cross"
  e2e_click "Zantir KORAL" 2
  e2e_wait
  [ "$E2E_STATUS" -eq 2 ] || e2e_fail "restore: exit status $E2E_STATUS, expected 2 (no upload finished)"
  infoa_of "$KORAL_E2E_OUT/restore.state" "$KORAL_E2E_OUT/restore-infoa.txt" blank_key.txt model_key.txt
  [ "$(hex_of "$KORAL_E2E_OUT/restore-infoa.txt")" = "$calibration" ] ||
    e2e_fail "restore: the instrument does not hold the saved InfoA"
  [ "$(cd "$E2E_TEMP" && ls KORLDR_INFOA_*)" = "$saved" ] ||
    e2e_fail "restore: backup files left: $(cd "$E2E_TEMP" && ls KORLDR_INFOA_*)"
  e2e_log "restore: the box, the file picked in the dialog, InfoA restored, the chosen file kept"
}

# The instrument behind COM5 through Wine's serial code, our preload and a pseudo-terminal.
need_wine_bench() {
  [ -x "$wine_bench" ] && [ -f "$wine_shim" ] && return 0
  e2e_log "building the Linux wine bench"
  (cd "$E2E_ROOT" && cmake --preset linux >/dev/null &&
    cmake --build --preset linux -j2 --target koral_wine_bench koral_wine_serial_shim >/dev/null) ||
    e2e_fail "cannot build koral_wine_bench (the preload needs gcc-multilib)"
}

# A new instrument with the script's calibration for the wine bench, and no backup left.
wine_bench_ready() {
  need_koralbsl
  need_wine_bench
  rm -f "$KORAL_E2E_OUT/$1.state" "$E2E_TEMP"/KORLDR_INFOA_*
  # The server first, its output going nowhere: it takes the pseudo-terminal as its controlling
  # terminal, and on the hang-up at the bench's end it writes a dump of its objects.
  "$WINESERVER" -p5 >/dev/null 2>&1 </dev/null || true  # fails when one runs already
}

scenario_serialtool() {
  local began=$SECONDS
  wine_bench_ready serialtool
  (cd "$pkg" && timeout 300 "$wine_bench" "--port=$WINEPREFIX/dosdevices/com5" "--shim=$wine_shim" \
    "--sim-state=$KORAL_E2E_OUT/serialtool.state" "--sim-infoa=$calibration" -- \
    "$WINE" "$KORAL_WINDOWS_BUILD/tools/koralbsl/koralbsl.exe" -cCOM5 -pmodel_key.txt -m3 +aepvr image.txt) \
    >"$KORAL_E2E_OUT/serialtool.log" 2>&1 || { tail -n 20 "$KORAL_E2E_OUT/serialtool.log" >&2; e2e_fail "serialtool: koralbsl.exe failed"; }
  grep -q "Programming completed." "$KORAL_E2E_OUT/serialtool.log" || e2e_fail "serialtool: no \"Programming completed.\""
  e2e_log "serialtool: koralbsl.exe through Wine's COM5 in $((SECONDS - began)) s, exit status 0"
  check_instrument serialtool
}

scenario_serial() {
  local began=$SECONDS list=$KORAL_E2E_OUT/serial-bridges.txt
  wine_bench_ready serial
  # What the bridge's driver leaves for its port on Windows; the wizard reads it through the
  # registry calls.
  e2e_reg 'HKLM\SYSTEM\CurrentControlSet\Enum\USB\VID_10C4&PID_EA60\0001\Device Parameters' PortName REG_SZ COM5
  timeout 300 "$wine_bench" "--port=$WINEPREFIX/dosdevices/com5" "--shim=$wine_shim" "--bridge-list=$list" \
    "--sim-state=$KORAL_E2E_OUT/serial.state" "--sim-infoa=$calibration" -- \
    "$WINE" "$program" "--bridge-list=$(winpath "$list")" >"$KORAL_E2E_OUT/serial.log" 2>&1 &
  E2E_PID=$!
  e2e_find "$wizard" 60 >/dev/null
  to_the_upload serial
  upload_to_the_tick serial
  e2e_click "Zantir KORAL" 2
  e2e_wait
  [ "$E2E_STATUS" -eq 0 ] || e2e_fail "serial: exit status $E2E_STATUS, expected 0"
  e2e_log "serial: the wizard through Wine's COM5 and registry in $((SECONDS - began)) s, the tick, exit status 0"
  check_instrument serial
}

scenario_readme() {
  scenario_full
  mkdir -p "$E2E_ROOT/docs/screenshots"
  for shot in welcome service upload-done; do
    cp "$KORAL_E2E_OUT/full-$shot.png" "$E2E_ROOT/docs/screenshots/windows-$shot.png"
  done
  e2e_log "README screenshots in docs/screenshots/"
}

E2E_TEMP=$(e2e_tempdir)
for s in "${@:-damaged}"; do
  "scenario_$s"
done
