# Every background process a script starts is remembered here by its PID, so that the exit
# trap stops exactly those (and nothing else of the user's) however the script ends.
# shellcheck shell=bash

TRACKED_PIDS=()

track_pid() {
  TRACKED_PIDS+=("$1")
}

# Ends one process: a polite TERM first, KILL if it has not gone within a second or two.
stop_pid() {
  local pid=$1 i
  kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for ((i = 0; i < 40; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# Newest first: the updater goes before the display it draws on and the server it talks to.
stop_tracked() {
  local i
  for ((i = ${#TRACKED_PIDS[@]} - 1; i >= 0; i--)); do
    stop_pid "${TRACKED_PIDS[i]}"
  done
  TRACKED_PIDS=()
}

# Polls a command until it succeeds or the deadline (seconds) passes.
wait_until() {
  local deadline=$1
  shift
  local end=$((SECONDS + deadline))
  while ! "$@"; do
    ((SECONDS < end)) || return 1
    sleep 0.05
  done
}
