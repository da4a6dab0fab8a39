#!/usr/bin/env bash
# Failure road: the manifest lists changes.txt, which the site does not have.
# Guards against: a failed file that damages the old copy, a missing or repeated error message,
# a failure that stops the files after it, a failure reported as completion (Next and the
# progress bar must be gone).
source "$(dirname "$0")/e2e.sh"

e2e_to_result failure new_version
click_control "$WINDOW" cmdNext

box=$(wait_window "$MESSAGE_TITLE" 60) || die "no error message appeared"
count=$(xdotool search --onlyvisible --name "^$MESSAGE_TITLE\$" | wc -l)
((count == 1)) || fail "$count error messages are open at once"
press_key "$box" Return
wait_window_gone "$box" 10 || die "the error message did not close on Return"
expect_page "$WINDOW" download_failed download-failed
[[ -z "$(visible_window "$MESSAGE_TITLE")" ]] || fail "a second error message appeared"

[[ "$(snapshot "$APP" | grep '^changes.txt ')" == "$(grep '^changes.txt ' "$WORK/app-before.txt")" ]] ||
  fail "the old changes.txt was changed"
expect_update_files_arrived
expect_requests "$MANIFEST" "$MANIFEST" "$MANIFEST" "$(request Tarnwick.exe)" "$(request Preferences.ini)" \
  "$(request changes.txt 404)" "$(request readme.txt)" "$(request data/extra.dat)"
expect_complete_ends_program "$WINDOW"
e2e_result
