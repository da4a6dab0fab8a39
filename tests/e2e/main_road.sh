#!/usr/bin/env bash
# Main road of the real program against nginx: welcome, new version 0.4 with four files,
# downloads, completion page, Complete.
# Guards against: files saved with other bytes or under other names than the site serves (the
# few-MiB file, the file from a sub-folder), requests in another order or number than start-up,
# step 1, step 2 and one per file, leftovers of the atomic save, pages drawn out of layout.
source "$(dirname "$0")/e2e.sh"

e2e_to_result main new_version
click_control "$WINDOW" cmdNext
expect_page "$WINDOW" complete complete

expect_update_files_arrived
# Start-up, step 1 and step 2 each fetch the manifest; then one request per file, in list order.
expect_requests "$MANIFEST" "$MANIFEST" "$MANIFEST" \
  "$(request Tarnwick.exe)" "$(request Preferences.ini)" "$(request readme.txt)" "$(request data/extra.dat)"
expect_complete_ends_program "$WINDOW"
e2e_result
