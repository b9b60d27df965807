# An operator for koralloader --plain under the bench who does what the wizard's pages and
# messages say, until the tick: Next where it leads on, the connect and power-cycling pages' steps
# (the bench's operator, through KORAL_BENCH_CONTROL), the power-cycling method when no firmware
# shows programming mode, Yes to writing back the backup an unfinished upload left, the newest
# kept backup when the wizard asks for a saved InfoA, and after a failed upload the battery and
# cable back in and Back for a fresh upload. Sourced after common.sh.

# start_wizard [BENCH_OPTION...] [-- WIZARD_ARG...]: koralloader --plain under the bench, its lines
# in $work/out.txt, its keys from descriptor 3; $control names the bench's control FIFO.
start_wizard() {
  local options=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do options+=("$1"); shift; done
  [ $# -eq 0 ] || shift
  rm -f "$work/keys" "$work/control.path"
  mkfifo "$work/keys"
  # The bench's own lines (the cuts it made) in $work/bench.txt, the wizard's in $work/out.txt.
  "${bench[@]}" "${options[@]}" -- sh -c 'echo "$KORAL_BENCH_CONTROL" >"$0"; exec "$@" 2>&1' "$work/control.path" \
    "$koralloader" --plain "$@" <"$work/keys" >"$work/out.txt" 2>"$work/bench.txt" &
  pid=$!
  exec 3>"$work/keys"
  local i
  for ((i = 0; i < 100; i++)); do
    [ -s "$work/control.path" ] && break
    sleep 0.1
  done
  control=$(cat "$work/control.path") || fail "the bench gave no control FIFO"
}

# step LINE: one line to the bench (a physical step, or a cut to arm).
step() { echo "$*" >"$control"; }

# arm CUT: a bench control line sent now, or "on TEXT => STEP", left in cut_text and cut_step for
# a hook that does STEP when the wizard prints TEXT.
arm() {
  if [[ "$1" == "on "* ]]; then
    cut_text=${1#on }
    cut_text=${cut_text%% => *}
    cut_step=${1##* => }
  else
    step "$1"
  fi
}
key() { echo "$*" >&3; }

# The newest kept backup, as a person picks it by its time.
newest_backup() { ls -t "$TMPDIR"/KORLDR_INFOA_*.TXT 2>/dev/null | head -n 1; }

# operate SECONDS [HOOK]: runs the wizard to its end (at most SECONDS), closing it after the tick.
# HOOK LINE is called for every line the wizard prints (a cut can watch for its moment). Sets
# uploads (upload pages entered), saw (the cut upload's message boxes and result), status.
operate() {
  local limit=$1 hook=${2:-} seen=0 page= since=$SECONDS ticked= answered=-1 total line tail_text now
  local next_at= console_at= powered=
  uploads=0 saw=
  local deadline=$((SECONDS + limit))
  while kill -0 "$pid" 2>/dev/null; do
    ((SECONDS < deadline)) || fail "no end within $limit s"
    total=$(wc -l <"$work/out.txt")
    if ((total > seen)); then
      while IFS= read -r line; do
        [ -z "$hook" ] || "$hook" "$line"
        if ((uploads <= 1)) && [[ "$line" == "["[A-Z]*"] "* || "$line" == "Result: "* || "$line" == "ERROR: "* ]]; then
          saw+="${saw:+; }${line#\[*\] }"
        fi
        case "$line" in
        "Welcome to the Zantir KORAL Firmware Upload Wizard"*) page=welcome ;;
        "Please connect the device now."*) page=connect; step connect ;;
        "Enter Programming Mode") page=service; since=$SECONDS ;;
        "Please follow these steps exactly"*) page=cycling; step power-cycle ;;
        "Firmware Image Transfer") page=upload; uploads=$((uploads + 1)) ;;
        "Please flip the switch to the On position"*) console_at=$SECONDS powered= ;;
        "(commands:"*) [ "$page" != welcome ] || key n ;;
        "(Next is enabled)")
          # On the power-cycling page Next comes with the cable, before the power is back (a
          # second later on the instrument's clock).
          if [ "$page" = cycling ]; then next_at=$((SECONDS + (${KORAL_BENCH_SPEED:-1} > 1 ? 2 : 3)));
          elif [ "$page" = service ]; then key n; fi ;;
        "Result: done (green tick)"*) ticked=1; console_at=; key c ;;
        "Result: "*) console_at=; [ -n "$ticked" ] || key b ;;
        esac
      done < <(sed -n "$((seen + 1)),${total}p" "$work/out.txt")
      seen=$total
    fi
    # A question waits on a line of its own, not yet ended.
    if ((answered != total)) && [ -n "$(tail -c 1 "$work/out.txt")" ]; then
      tail_text=$(tail -n 1 "$work/out.txt")
      case "$tail_text" in
      *"answer (first letter of a button): ")
        answered=$total
        # Only the write-back of an unfinished upload's backup asks Yes or No here.
        key y ;;
      *"file (number, name or full path"*|*"file (name or full path"*)
        answered=$total
        key "$(newest_backup)" ;;
      esac
    fi
    if [ -n "$next_at" ] && ((SECONDS >= next_at)); then next_at=; key n; fi
    # No programming mode after a patient while: no firmware runs; the page's power-cycling way.
    if [ "$page" = service ] && ((SECONDS - since > 20)); then since=$((SECONDS + 1000)); key t; fi
    # "Hit Cancel if nothing happens": first a look at the battery, then Cancel.
    if [ -n "$console_at" ] && [ -z "$powered" ] && ((SECONDS - console_at > 15)); then powered=1; step power-on; step on; fi
    if [ -n "$console_at" ] && ((SECONDS - console_at > 40)); then console_at=; key k; fi
    sleep 0.2
  done
  status=0
  wait "$pid" || status=$?
  pid=
  [ -n "$ticked" ] || fail "the wizard ended without the tick (exit status $status)"
}
