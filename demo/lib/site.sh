# Lays out the update site that one run serves: the main demo site, the scenario's own files
# over it, and the program file of a few MiB, made here instead of being kept in the repository;
# then publishes it as a publisher would, with the demo key (digests written, manifest signed).
# shellcheck shell=bash

DEMO_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DEMO_SCENARIOS=(main uptodate failure newupdater tampered)
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
# A language other than English also goes into the site's new Preferences.ini: the completion
# page reads the language from that file after it has been replaced, and a publisher serving
# Dutch users would ship theirs with Lang=Nederlands.
stage_site() {
  local scenario=$1 dest=$2 lang=${3:-}
  mkdir -p "$dest"
  cp -R "$DEMO_DIR/site/." "$dest/"
  [[ " ${DEMO_SCENARIOS[*]} " == *" $scenario "* ]] || { echo "unknown scenario: $scenario" >&2; return 1; }
  if [[ -d "$DEMO_DIR/sites/$scenario" ]]; then
    cp -R "$DEMO_DIR/sites/$scenario/." "$dest/"
  fi
  head -c $((8 * 1024 * 1024 + 4321)) /dev/urandom > "$dest/updater/0.3/Tarnwick.exe"
  if [[ -n "$lang" && "$lang" != English ]]; then
    set_language "$dest/updater/0.3/Preferences.ini" "$lang"
  fi
  "$DEMO_DIR/../scripts/publish-site.sh" -s "$DEMO_SIGNING_KEY_FILE" "$dest/updater/0.3" > /dev/null
  case "$scenario" in
    # A file the publisher listed and signed but never uploaded.
    failure) rm "$dest/updater/0.3/changes.txt" ;;
    # A file changed on the site after it was published: it no longer matches its digest.
    tampered) printf 'Download the faster edition from elsewhere.\r\n' >> "$dest/updater/0.3/readme.txt" ;;
  esac
  chmod -R a+rX "$dest"
}

# prepare_app_folder DEST BINARY LANG
# A Tarnwick installation of version 0.3 holding the updater, as a publisher ships it.
prepare_app_folder() {
  local dest=$1 binary=$2 lang=${3:-English}
  rm -rf "$dest"
  mkdir -p "$dest"
  cp -R "$DEMO_DIR/app/." "$dest/"
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
