# Runs the real updater on a private Xvfb display and walks it through one scenario the way a
# person would (keys and clicks from outside the process), saving a screenshot of every page.
# shellcheck shell=bash

UPDATER_PID=

# start_updater APP WORK: starts APP/tarnwick-updater on $DISPLAY in a session of its own.
# The runtime folder is private so that an updater of the person's own desktop (which holds
# the single-instance lock there) does not make this one end at once; the browser the program
# opens for a newer updater is a recorder, so no real browser starts on the hidden display.
start_updater() {
  local app=$1 work=$2
  mkdir -p "$work/runtime" "$work/bin"
  chmod 700 "$work/runtime"
  cat > "$work/bin/xdg-open" <<EOF
#!/bin/sh
printf '%s\n' "\$*" >> "$work/browser.log"
EOF
  chmod +x "$work/bin/xdg-open"
  (
    cd "$app"
    unset BROWSER DEFAULT_BROWSER SESSION_MANAGER
    export XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb PATH="$work/bin:$PATH"
    exec ./tarnwick-updater
  ) > "$work/updater.log" 2>&1 &
  UPDATER_PID=$!
  track_pid "$UPDATER_PID"
}

# wait_updater_exit SECONDS: the updater's exit status once it has ended; 124 on time-out.
wait_updater_exit() {
  local end=$((SECONDS + $1)) status=0
  while kill -0 "$UPDATER_PID" 2>/dev/null; do
    ((SECONDS < end)) || return 124
    sleep 0.05
  done
  wait "$UPDATER_PID" || status=$?
  return "$status"
}

# The main window once it is mapped (start-up has run by then).
main_window() {
  wait_window "$WINDOW_TITLE" 30 || { echo "the updater's window did not appear" >&2; return 1; }
}

SHOT_DIR=
saved() {
  echo "   screenshot: $1"
}

# Welcome page, then Return (Next is the default button and has the focus) and the result.
drive_to_result() {
  local id=$1 result=$2 resultShot=$3
  wait_page "$id" welcome 20 "$SHOT_DIR/01-welcome.png" || return 1
  saved "$SHOT_DIR/01-welcome.png"
  press_key "$id" Return
  wait_page "$id" "$result" 30 "$resultShot" || return 1
  saved "$resultShot"
}

drive_main() {
  local id
  id=$(main_window) || return 1
  drive_to_result "$id" new_version "$SHOT_DIR/02-new-version.png" || return 1
  click_control "$id" cmdNext
  # The slow program file keeps this page up for a few seconds; missing it is no failure.
  if wait_page "$id" downloading 10 "$SHOT_DIR/03-downloading.png" 2>/dev/null; then
    saved "$SHOT_DIR/03-downloading.png"
  fi
  wait_page "$id" complete 60 "$SHOT_DIR/04-complete.png" || return 1
  saved "$SHOT_DIR/04-complete.png"
  click_control "$id" cmdCancel
}

drive_uptodate() {
  local id
  id=$(main_window) || return 1
  drive_to_result "$id" up_to_date "$SHOT_DIR/02-up-to-date.png" || return 1
  click_control "$id" cmdCancel
}

drive_failure() {
  local id box
  id=$(main_window) || return 1
  drive_to_result "$id" new_version "$SHOT_DIR/02-new-version.png" || return 1
  click_control "$id" cmdNext
  box=$(wait_window "$MESSAGE_TITLE" 60) || { echo "no error message appeared" >&2; return 1; }
  wait_settled "$box" "$SHOT_DIR/box.png" 5 || true
  rm -f "$SHOT_DIR/box.png"
  shot_of_windows "$SHOT_DIR/03-error-message.png" "$id" "$box"
  saved "$SHOT_DIR/03-error-message.png"
  press_key "$box" Return
  wait_window_gone "$box" 10 || { echo "the error message did not close" >&2; return 1; }
  wait_page "$id" download_failed 60 "$SHOT_DIR/04-download-failed.png" || return 1
  saved "$SHOT_DIR/04-download-failed.png"
  click_control "$id" cmdCancel
}

# A file on the site differs from the digest its signed manifest gives: the road of a failed
# download, and the old file stays as it was (APP is the demo Tarnwick folder).
drive_tampered() {
  drive_failure || return 1
  cmp -s "$DEMO_DIR/app/readme.txt" "$1/readme.txt" ||
    { echo "readme.txt was replaced by the tampered copy" >&2; return 1; }
}

# requested URI: the site answered a GET of URI (its path below the server's root).
requested() {
  awk -v uri="$1" '$1 == "GET" && $2 == uri { seen = 1 } END { exit !seen }' "$SITE_ACCESS_LOG"
}

# The site offers 0.4 as patches against the files 0.3 shipped: the main road, after which every
# listed file in APP is the site's, the program arrived as its patch, and extra.dat, which 0.4
# did not change, was never asked for.
drive_delta() {
  local app=$1 site=$STAGED_SITE/updater/0.3 name
  drive_main || return 1
  while read -r name; do
    cmp -s "$site/$name" "$app/${name##*/}" || { echo "$name is not the site's after the run" >&2; return 1; }
  done < <(listed_files "$site/check.update")
  requested /updater/0.3/Tarnwick.exe.zst-patch || { echo "the program's patch was not fetched" >&2; return 1; }
  ! requested /updater/0.3/Tarnwick.exe || { echo "the program was fetched whole" >&2; return 1; }
  ! requested /updater/0.3/extra.dat || { echo "the current extra.dat was fetched" >&2; return 1; }
}

drive_newupdater() {
  local box
  box=$(wait_window "$MESSAGE_TITLE" 30) || { echo "no notice appeared" >&2; return 1; }
  wait_settled "$box" "$SHOT_DIR/01-newer-updater.png" 5 || true
  saved "$SHOT_DIR/01-newer-updater.png"
  press_key "$box" Return
}

# drive_headless SCENARIO APP WORK
drive_headless() {
  local scenario=$1 app=$2 work=$3 status=0
  SHOT_DIR="$work/screenshots"
  mkdir -p "$SHOT_DIR"
  start_xvfb "$work/x" || return 1
  start_updater "$app" "$work"
  "drive_$scenario" "$app" || status=$?
  local exitStatus=0
  wait_updater_exit 20 || exitStatus=$?
  if ((exitStatus != 0)); then
    echo "the updater ended with status $exitStatus; its output:" >&2
    cat "$work/updater.log" >&2
    ((status != 0)) || status=$exitStatus
  fi
  if [[ -s "$work/browser.log" ]]; then
    echo "== The updater opened in the browser: $(cat "$work/browser.log")"
  fi
  return "$status"
}
