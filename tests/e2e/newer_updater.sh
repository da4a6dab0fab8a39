#!/usr/bin/env bash
# Newer-updater notice of the real program: the site publishes updater 0.3, then 0.2.
# Guards against: the main window mapped before, under or after the notice (even for a moment),
# the web site not opened or opened with another address, an exit status other than 0, the
# folder touched; and with 0.2 a notice where none is due, a browser opened, or a window that
# does not end when the person closes it.
source "$(dirname "$0")/e2e.sh"

# Every window mapped on the display, recorded by the X server's own notifications, so that a
# window shown for a moment between two polls is seen too.
record_maps() {
  xev -root -event substructure -event mouse > "$WORK/maps.log" 2>&1 &
  track_pid $!
  # Pointer moves show that xev listens before the updater starts.
  local i
  for ((i = 0; i < 200; i++)); do
    xdotool mousemove $((i % 2 + 1)) 1
    grep -q MotionNotify "$WORK/maps.log" && return 0
    sleep 0.05
  done
  die "xev did not start listening"
}

# The ids of the windows mapped so far, one a line, as xwininfo and xdotool print them (decimal).
mapped_windows() {
  local id
  grep -A1 '^MapNotify' "$WORK/maps.log" | sed -n 's/^ *event [^,]*, window \(0x[0-9a-f]*\),.*/\1/p' |
    while read -r id; do echo $((id)); done
}

e2e_start newupdater
record_maps
e2e_run_updater

# Until the notice is up, and again until the process has ended, the main window never shows.
box=
end=$((SECONDS + 30))
while [[ -z "$box" ]] && ((SECONDS < end)); do
  [[ -z "$(visible_window "$WINDOW_TITLE")" ]] || die "the main window was shown before the notice"
  box=$(visible_window "$MESSAGE_TITLE") || true
  [[ -n "$box" ]] || sleep 0.05
done
[[ -n "$box" ]] || die "no notice titled \"$MESSAGE_TITLE\" appeared"
[[ -s "$WORK/browser.log" ]] && fail "the browser opened before the notice was confirmed"
press_key "$box" Return

end=$((SECONDS + 20))
while kill -0 "$UPDATER_PID" 2>/dev/null && ((SECONDS < end)); do
  [[ -z "$(visible_window "$WINDOW_TITLE")" ]] || fail "the main window was shown after the notice"
  sleep 0.05
done
status=0
wait_updater_exit 1 || status=$?
((status == 0)) || die "the updater ended with status $status after the notice"

[[ "$(mapped_windows)" == "$((box))" ]] || fail "windows other than the notice were mapped: $(mapped_windows | xargs)"
# The launcher is started and not waited for; it may record a moment after the updater ended.
wait_until 10 test -s "$WORK/browser.log" || fail "the web site was not opened"
[[ "$(cat "$WORK/browser.log" 2>/dev/null)" == "http://www.tarnwick.example/" ]] ||
  fail "the browser was asked to open \"$(cat "$WORK/browser.log")\" instead of the web site"
[[ "$(snapshot "$APP")" == "$(cat "$WORK/app-before.txt")" ]] || fail "the Tarnwick folder changed"
expect_requests "$MANIFEST"

# The same installation against a site that publishes updater 0.2: the welcome page, no notice.
stage_site main "$WORK/site"
: > "$SITE_ACCESS_LOG"
: > "$WORK/browser.log"
e2e_run_updater
WINDOW=$(main_window) || die "the updater's window did not appear"
expect_page "$WINDOW" welcome welcome-after-0.2
[[ -z "$(visible_window "$MESSAGE_TITLE")" ]] || fail "a notice was shown for updater 0.2"
request_close "$WINDOW"
status=0
wait_updater_exit 3 || status=$?
((status == 0)) || fail "closing the window ended the updater with status $status (124: it kept running)"
[[ -s "$WORK/browser.log" ]] && fail "the browser opened for updater 0.2: $(cat "$WORK/browser.log")"
[[ "$(snapshot "$APP")" == "$(cat "$WORK/app-before.txt")" ]] || fail "the Tarnwick folder changed"
expect_requests "$MANIFEST"
e2e_result
