# Drives a program in a detached tmux pane: start it at a size, read the screen, send keys.
# Sourced by the end-to-end tests and by tools/picture.sh. Each caller gets its own tmux server
# (socket koral-e2e-<pid>), so parallel runs and the user's own sessions never meet.
E2E_SOCKET=${E2E_SOCKET:-koral-e2e-$$}

e2e_tmux() { LANG=C.UTF-8 LC_ALL=C.UTF-8 tmux -u -L "$E2E_SOCKET" -f /dev/null "$@"; }

# e2e_start COLS ROWS COMMAND...: runs COMMAND in a fresh session "e2e"; its exit status is kept
# in $E2E_STATUS_FILE once it ends (the pane stays, so its last screen can still be read).
e2e_start() {
  local cols=$1 rows=$2
  shift 2
  E2E_STATUS_FILE=$(mktemp)
  local cmd
  printf -v cmd '%q ' "$@"
  e2e_tmux new-session -d -s e2e -x "$cols" -y "$rows" \
    "trap : INT; $cmd; echo \$? > $E2E_STATUS_FILE; exec sleep 86400"
}

# The pane's text now; with -e also its colours and attributes as escape sequences.
e2e_screen() { e2e_tmux capture-pane -p -t e2e "$@"; }

# e2e_wait TEXT [SECONDS]: waits until TEXT (a fixed string) shows; prints the screen on timeout.
e2e_wait() {
  local text=$1 limit=${2:-30} waited=0
  while ! e2e_screen | grep -qF -- "$text"; do
    if ((waited >= limit * 10)); then
      echo "e2e: \"$text\" did not show within ${limit}s; the screen:" >&2
      e2e_screen >&2
      return 1
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
}

# e2e_keys KEY...: tmux key names (Tab, BTab, Enter, Escape, Space, or text).
e2e_keys() { e2e_tmux send-keys -t e2e "$@"; }

# e2e_exit_status [SECONDS]: waits for the program to end and prints its exit status.
e2e_exit_status() {
  local limit=${1:-30} waited=0
  while [ ! -s "$E2E_STATUS_FILE" ]; do
    if ((waited >= limit * 10)); then
      echo "e2e: the program did not end within ${limit}s" >&2
      return 1
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  cat "$E2E_STATUS_FILE"
}

e2e_stop() {
  e2e_tmux kill-server 2>/dev/null || true
  [ -n "${E2E_STATUS_FILE:-}" ] && rm -f "$E2E_STATUS_FILE"
  return 0
}
