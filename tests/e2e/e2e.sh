# Shared by the end-to-end roads: the real tarnwick-updater (built for the loopback test site)
# runs from a temporary Tarnwick folder on a private Xvfb display, nginx serves the demo update
# site on 127.0.0.1, and the window is driven only from outside the process.
# Usage of a road script: ROAD.sh UPDATER_BINARY PORT [CLOSE_REQUEST_BINARY]
# shellcheck shell=bash

set -euo pipefail

E2E_BINARY=${1:?updater binary}
E2E_PORT=${2:?site port}
E2E_CLOSE_REQUEST=${3:-}
E2E_REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# shellcheck source=../../demo/lib/procs.sh
source "$E2E_REPO/demo/lib/procs.sh"
# shellcheck source=../../demo/lib/site.sh
source "$E2E_REPO/demo/lib/site.sh"
# shellcheck source=../../demo/lib/server.sh
source "$E2E_REPO/demo/lib/server.sh"
# shellcheck source=../../demo/lib/xsession.sh
source "$E2E_REPO/demo/lib/xsession.sh"
# shellcheck source=../../demo/lib/window.sh
source "$E2E_REPO/demo/lib/window.sh"
# shellcheck source=../../demo/lib/drive.sh
source "$E2E_REPO/demo/lib/drive.sh"
# shellcheck source=layout.sh
source "$E2E_REPO/tests/e2e/layout.sh"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-e2e.XXXXXX")
SITE="$WORK/site/updater/0.3"
APP="$WORK/Tarnwick"
FAILURES=0

e2e_finish() {
  local status=$?
  stop_tracked
  if ((status == 0 || status == 77)); then
    rm -rf "$WORK"
  else
    echo "screenshots, logs and folders kept in $WORK" >&2
  fi
}
trap e2e_finish EXIT
trap 'exit 130' INT TERM

skip() {
  echo "SKIPPED: $*"
  exit 77
}

# A check that failed: the road goes on so that one run reports every difference.
fail() {
  echo "FAILED: $*" >&2
  FAILURES=$((FAILURES + 1))
}

# A step the rest of the road depends on.
die() {
  echo "FAILED: $*" >&2
  exit 1
}

e2e_result() {
  ((FAILURES == 0)) || exit 1
  echo "passed"
}

for tool in Xvfb xdotool import convert xwininfo xdpyinfo "$NGINX"; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/ensure-packages.sh installs it)"
done

# e2e_start SCENARIO [RATE]: the scenario's site behind nginx on the port compiled into the
# binary (the program file served at RATE, when given), and a display. Another test may still
# hold the fixed port for a moment; wait for it.
e2e_start() {
  stage_site "$1" "$WORK/site"
  wait_until 60 port_is_free "$E2E_PORT" || die "port $E2E_PORT on 127.0.0.1 stays in use"
  if ! start_nginx "$WORK/site" "$E2E_PORT" "$WORK/nginx" "${2:-}" 2> "$WORK/nginx-start.txt"; then
    cat "$WORK/nginx-start.txt" >&2
    # Only a system that does not let nginx run at all is a reason to skip; a configuration
    # or port problem is a failure.
    if grep -q -e "Permission denied" -e "Operation not permitted" "$WORK/nginx-start.txt"; then
      skip "nginx cannot run here"
    fi
    die "nginx did not start"
  fi
  start_xvfb "$WORK/x" 2> "$WORK/xvfb-start.txt" || skip "Xvfb cannot run here: $(cat "$WORK/xvfb-start.txt")"
}

# e2e_prepare_app: the installed copy (Version=0.3, built-in English), not started yet.
e2e_prepare_app() {
  prepare_app_folder "$APP" "$E2E_BINARY" English
  rm -rf "$APP/Lang"
}

# e2e_start_prepared: starts the copy in $APP as it is now, noting what its folder held.
e2e_start_prepared() {
  snapshot "$APP" > "$WORK/app-before.txt"
  start_updater "$APP" "$WORK"
}

e2e_run_updater() {
  e2e_prepare_app
  e2e_start_prepared
}

# request_close ID: the close request a window manager sends when its close button is pressed.
request_close() {
  [[ -x "$E2E_CLOSE_REQUEST" ]] || die "no close-request tool was given to this road"
  "$E2E_CLOSE_REQUEST" "$1" || die "the close request did not reach window $1"
}

# expect_page ID PAGE NAME: waits for the page, lets painting finish and checks its layout.
expect_page() {
  local id=$1 page=$2 shot="$WORK/$3.png"
  wait_page "$id" "$page" 60 "$shot" || die "the $page page did not appear"
  wait_settled "$id" "$shot" 10 || die "the $page page kept changing"
  check_layout "$shot" "$page" || fail "the $page page is not laid out as designed ($shot)"
}

# e2e_to_result SCENARIO PAGE: serves the scenario, starts the updater, checks the welcome page,
# presses Return (Next is the default button) and checks the check's result page. The
# window's id is left in WINDOW.
WINDOW=
e2e_to_result() {
  e2e_start "$1"
  e2e_run_updater
  WINDOW=$(main_window) || die "the updater's window did not appear"
  expect_page "$WINDOW" welcome welcome
  press_key "$WINDOW" Return
  expect_page "$WINDOW" "$2" "${2//_/-}"
}

# expect_same_file SITE_PATH LOCAL_NAME
expect_same_file() {
  cmp -s "$SITE/$1" "$APP/$2" || fail "$2 in the Tarnwick folder differs from $1 on the site"
}

# The demo update's four files, each as the site serves it, and nothing else new in the folder.
expect_update_files_arrived() {
  expect_same_file Tarnwick.exe Tarnwick.exe
  expect_same_file Preferences.ini Preferences.ini
  expect_same_file readme.txt readme.txt
  expect_same_file data/extra.dat extra.dat
  expect_folder_files tarnwick-updater Preferences.ini Tarnwick.exe readme.txt changes.txt extra.dat
}

# One access-log line: a GET of a path below the version folder and its status.
request() {
  echo "GET /updater/0.3/$1 ${2:-200}"
}
MANIFEST=$(request check.update)

# expect_requests LINE...: the site's access log, line by line, once the last line is in.
expect_requests() {
  local expected
  expected=$(printf '%s\n' "$@")
  wait_until 5 log_has_lines "$#" || true
  local actual
  actual=$(cat "$SITE_ACCESS_LOG")
  [[ "$actual" == "$expected" ]] || fail "the site received
$actual
instead of
$expected"
}

log_has_lines() {
  (($(wc -l < "$SITE_ACCESS_LOG") >= $1))
}

# The only files a run may add are the ones it downloads; any other one is a leftover of a
# save that was not finished or cleaned up.
expect_folder_files() {
  local actual expected
  actual=$(cd "$APP" && find . -type f -printf '%P\n' | LC_ALL=C sort)
  expected=$(printf '%s\n' "$@" | LC_ALL=C sort)
  [[ "$actual" == "$expected" ]] || fail "the Tarnwick folder holds
$actual
instead of
$expected"
}

# Complete (the Cancel button) ends the program with status 0.
expect_complete_ends_program() {
  click_control "$1" cmdCancel
  local status=0
  wait_updater_exit 20 || status=$?
  ((status == 0)) || fail "the updater ended with status $status after Complete"
}
