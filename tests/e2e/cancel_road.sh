#!/usr/bin/env bash
# Leaving the real program early: Cancel on the welcome page, then Cancel and the window's
# close request while the program file (served slowly, an older copy installed) is downloading.
# Guards against: a process that hangs or keeps downloading after the person left (a nested
# wait that is not ended, an abort that is not seen), an exit status other than 0, a half
# received file written over the old one or left beside it, further files fetched after leaving.
source "$(dirname "$0")/e2e.sh"

# expect_prompt_exit HOW: the updater has ended with status 0. The deadline only tells "ended"
# from "hangs"; a person sees the window go at once.
expect_prompt_exit() {
  local status=0
  wait_updater_exit 3 || status=$?
  ((status == 0)) || die "after $1 the updater ended with status $status (124: it was still running)"
}

expect_folder_unchanged() {
  [[ "$(snapshot "$APP")" == "$(cat "$WORK/app-before.txt")" ]] ||
    fail "after $1 the Tarnwick folder holds
$(snapshot "$APP")
instead of
$(cat "$WORK/app-before.txt")"
}

# Some of the program file has reached the disk: the updater holds a file of the folder open
# (a temporary one, or one without a name yet) that is no longer empty.
receiving_into_folder() {
  local fd
  for fd in /proc/"$UPDATER_PID"/fd/*; do
    [[ "$(readlink "$fd" 2>/dev/null)" == "$APP/"* ]] || continue
    (($(stat -L -c %s "$fd" 2>/dev/null || echo 0) > 0)) && return 0
  done
  return 1
}

# 64 KiB a second keeps the 3 MiB program file arriving for most of a minute.
e2e_start main 64k

e2e_run_updater
WINDOW=$(main_window) || die "the updater's window did not appear"
wait_page "$WINDOW" welcome 30 "$WORK/welcome.png" || die "the welcome page did not appear"
click_control "$WINDOW" cmdCancel
expect_prompt_exit "Cancel on the welcome page"
expect_folder_unchanged "Cancel on the welcome page"
expect_requests "$MANIFEST"

for how in Cancel close; do
  : > "$SITE_ACCESS_LOG"
  e2e_prepare_app
  head -c 200000 /dev/urandom > "$APP/Tarnwick.exe"
  e2e_start_prepared
  WINDOW=$(main_window) || die "the updater's window did not appear"
  wait_page "$WINDOW" welcome 30 "$WORK/welcome-$how.png" || die "the welcome page did not appear"
  press_key "$WINDOW" Return
  wait_page "$WINDOW" new_version 30 "$WORK/new-version-$how.png" || die "the check found no new version"
  click_control "$WINDOW" cmdNext
  wait_until 30 receiving_into_folder || die "the download of Tarnwick.exe did not start"
  if [[ "$how" == Cancel ]]; then
    click_control "$WINDOW" cmdCancel
  else
    request_close "$WINDOW"
  fi
  expect_prompt_exit "$how during the download"
  expect_folder_unchanged "$how during the download"
  # Nothing after the file that was being received: the queue stopped with the program.
  expect_requests "$MANIFEST" "$MANIFEST" "$MANIFEST" "$(request Tarnwick.exe)"
done
e2e_result
