# Publishes the update site that one run serves, as a publisher would: the demo release (0.4,
# its files in demo/release/ with the scenario's own in demo/scenarios/SCENARIO/, and the program
# file of a few MiB, made here instead of being kept in the repository) for installations of 0.3,
# by tarnwick-publish with the demo key (digests written, manifests signed, and for the delta
# scenario patches against the files 0.3 shipped).
# shellcheck shell=bash

DEMO_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DEMO_SCENARIOS=(main uptodate failure newupdater tampered delta)
STAGED_SITE=  # the folder stage_site last laid out, for the drivers' checks
PUBLISH_BIN=  # the tarnwick-publish that stage_site runs; set by whoever sources this file
# The demo key pair: demo.sh builds the updater with the public key, stage_site signs with the
# secret one. A demo key only: its secret half is in the repository.
DEMO_SIGNING_KEY_FILE="$DEMO_DIR/demo-key/minisign.key"
demo_signing_key() {
  sed -n 2p "$DEMO_DIR/demo-key/minisign.pub"
}

# set_language FILE LANG: the Lang= line of an INI file with CRLF line ends.
set_language() {
  local value=${2//\\/\\\\}
  value=${value//&/\\&}
  sed -i "s/^Lang=.*\r\$/Lang=${value//\//\\/}\r/" "$1"
}

# stage_site SCENARIO DEST [LANG]
# A language other than English also goes into the release's new Preferences.ini: the completion
# page reads the language from that file after it has been replaced, and a publisher serving
# Dutch users would ship theirs with Lang=Nederlands.
stage_site() {
  local scenario=$1 dest=$2 lang=${3:-}
  [[ " ${DEMO_SCENARIOS[*]} " == *" $scenario "* ]] || { echo "unknown scenario: $scenario" >&2; return 1; }
  local release shipped= options=(--release "0.4 second beta")
  release=$(mktemp -d)
  cp -R "$DEMO_DIR/release/." "$release/"
  if [[ -d "$DEMO_DIR/scenarios/$scenario" ]]; then
    cp -R "$DEMO_DIR/scenarios/$scenario/." "$release/"
  fi
  case "$scenario" in
    uptodate) options=(--release 0.3) ;;
    newupdater) options+=(--newupdater 0.3 --shipped 0.3) ;;
    delta) shipped=$(mktemp -d); options+=(--shipped "0.3=$shipped") ;;
    *) options+=(--shipped 0.3) ;;
  esac
  if [[ -n "$shipped" ]]; then
    cp -R "$DEMO_DIR/app/." "$shipped/"
    add_shipped_files "$scenario" "$shipped"
    changed_program "$shipped/Tarnwick.exe" > "$release/Tarnwick.exe"
  else
    head -c $((8 * 1024 * 1024 + 4321)) /dev/urandom > "$release/Tarnwick.exe"
  fi
  if [[ -n "$lang" && "$lang" != English ]]; then
    set_language "$release/Preferences.ini" "$lang"
  fi
  "$PUBLISH_BIN" --site "$dest/updater" "${options[@]:0:2}" "$release" "${options[@]:2}" \
    -s "$DEMO_SIGNING_KEY_FILE" -q
  rm -rf -- "$release" ${shipped:+"$shipped"}
  case "$scenario" in
    # A file the publisher listed and signed but never uploaded.
    failure) rm "$dest/updater/0.3/changes.txt" ;;
    # A file changed on the site after it was published: it no longer matches its digest.
    tampered) printf 'Download the faster edition from elsewhere.\r\n' >> "$dest/updater/0.3/readme.txt" ;;
  esac
  chmod -R a+rX "$dest"
  # shellcheck disable=SC2034 # read by drive.sh
  STAGED_SITE=$dest
}

# shipped_program: the Tarnwick.exe that 0.3 shipped in the delta scenario, a few MiB that look
# random but are the same in every run, so that the site's patches fit the demo folder's copy.
shipped_program() {
  head -c $((8 * 1024 * 1024 + 4321)) /dev/zero |
    openssl enc -aes-128-ctr -nosalt -K 5461726e7769636b2030332070726f67 -iv 00000000000000000000000000000000
}

# changed_program FILE: FILE as a new build would change it: a few blocks rewritten here and
# there, and a little more at the end.
changed_program() {
  local out offset
  out=$(mktemp)
  cp "$1" "$out"
  for offset in 40 130 260 330 470; do  # in blocks of 16 KiB, over the 8 MiB
    head -c 16384 /dev/urandom | dd of="$out" bs=16384 seek="$offset" conv=notrunc status=none
  done
  head -c 2048 /dev/urandom >> "$out"
  cat "$out"
  rm -f -- "$out"
}

# add_shipped_files SCENARIO DEST: the files version 0.3 shipped beyond demo/app/ (none, except
# in the delta scenario: the program, and extra.dat as 0.4 still has it).
add_shipped_files() {
  [[ "$1" == delta ]] || return 0
  shipped_program > "$2/Tarnwick.exe"
  cp "$DEMO_DIR/release/extra.dat" "$2/extra.dat"
}

# listed_files MANIFEST: the names its <file> element lists, one a line.
listed_files() {
  sed -n 's:.*<file>\(.*\)</file>.*:\1:p' "$1" | sed 's:<br>:\n:g'
}

# prepare_app_folder DEST BINARY LANG [SCENARIO]
# A Tarnwick installation of version 0.3 holding the updater, as a publisher ships it.
prepare_app_folder() {
  local dest=$1 binary=$2 lang=${3:-English}
  rm -rf "$dest"
  mkdir -p "$dest"
  cp -R "$DEMO_DIR/app/." "$dest/"
  add_shipped_files "${4:-main}" "$dest"
  cp "$binary" "$dest/tarnwick-updater"
  set_language "$dest/Preferences.ini" "$lang"
}

# snapshot FOLDER: one line per file below it, "path size checksum", sorted by path; not the
# lock a running updater holds on the folder.
snapshot() {
  (cd "$1" && find . -type f ! -name .tarnwick-updater.lock -printf '%P\n' | LC_ALL=C sort | while read -r f; do
    printf '%s %s %s\n' "$f" "$(stat -c %s "$f")" "$(cksum < "$f" | cut -d' ' -f1)"
  done)
}
