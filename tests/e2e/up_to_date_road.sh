#!/usr/bin/env bash
# Up-to-date road: the site publishes 0.3, the installed version.
# Guards against: an equal version taken for a newer one (a third manifest fetch, files
# fetched or written), Next left on the page, the result drawn out of layout.
source "$(dirname "$0")/e2e.sh"

e2e_to_result uptodate up_to_date

[[ "$(snapshot "$APP")" == "$(cat "$WORK/app-before.txt")" ]] || fail "the Tarnwick folder changed"
# Start-up and step 1 fetch the manifest; an equal version needs no file list.
expect_requests "$MANIFEST" "$MANIFEST"
expect_complete_ends_program "$WINDOW"
e2e_result
