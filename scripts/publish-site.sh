#!/usr/bin/env bash
# Prepares one version folder of an update site for upload: writes the SHA-256 digest of every
# file that check.update lists into its <sha256> element (replacing an old one), then signs
# check.update with the publisher's minisign key, beside it as check.update.minisig.
# Run it again after any change to the manifest or to a listed file. It refuses a manifest that
# the updater would misread (see the checks below) and then, like after a failed signing, leaves
# both files as they were.
set -euo pipefail
export LC_ALL=C  # the manifest is handled as bytes

usage() {
  cat <<'EOF'
Usage: scripts/publish-site.sh [-s SECRET_KEY] SITE/VERSION

  SITE/VERSION   the folder holding check.update and the files it lists, e.g. site/updater/0.3
  -s SECRET_KEY  the minisign secret key (default: minisign's own, ~/.minisign/minisign.key)
EOF
}

key_args=()
while (($#)); do
  case "$1" in
    -s) key_args=(-s "${2:?-s needs a key file}"); shift 2 ;;
    -h | --help) usage; exit 0 ;;
    -*) usage >&2; exit 2 ;;
    *) break ;;
  esac
done
(($# == 1)) || { usage >&2; exit 2; }
folder=${1%/}
manifest="$folder/check.update"
fail() { echo "publish-site: $*" >&2; exit 1; }
# shown TEXT: TEXT as a shell word, so that a line break or a control character in a name
# (the very names refused below) never reaches the terminal raw.
shown() { printf %q "$1"; }
at=$(shown "$manifest")
[[ -f "$manifest" ]] || fail "$at does not exist"
command -v minisign > /dev/null || fail "minisign is not installed (Debian package minisign)"

# The whole file, trailing line breaks included.
content=$(cat "$manifest"; printf x)
content=${content%x}
case "$content" in
  $'\xff\xfe'* | $'\xfe\xff'*) fail "$at is UTF-16; save it as UTF-8 or ANSI" ;;
esac

# tag_at TEXT NAME: "position length" of the first <NAME> or </NAME> in TEXT (either case),
# or nothing. The updater reads elements the same way: a closing tag counts as an opening one.
tag_at() {
  local lower=${1,,} best=-1 len=0 tag before
  for tag in "<$2>" "</$2>"; do
    before=${lower%%"$tag"*}
    if [[ "$before" != "$lower" ]] && ((best < 0 || ${#before} < best)); then
      best=${#before} len=${#tag}
    fi
  done
  ((best >= 0)) && echo "$best $len"
}

# element NAME: sets $value to the text after the first tag of that name up to the next one
# (or the end); false when the manifest has no such tag.
element() {
  local hit pos len
  hit=$(tag_at "$content" "$1") || return 1
  read -r pos len <<< "$hit"
  value=${content:pos + len}
  if hit=$(tag_at "$value" "$1"); then
    read -r pos len <<< "$hit"
    value=${value:0:pos}
  fi
}

# Drop the old digests, written by an earlier run as one <sha256>...</sha256> line.
while hit=$(tag_at "$content" sha256); do
  read -r pos len <<< "$hit"
  old=${content:pos}
  [[ "$old" == "<sha256>"*"</sha256>"* ]] || fail "cannot replace the sha256 element of $at; remove it by hand"
  rest=${old#*"</sha256>"}
  rest=${rest#$'\r'}
  content=${content:0:pos}${rest#$'\n'}
done

# The updater takes the version and the file names exactly as written, line breaks and leading
# blanks included: a version on a line of its own or after a blank never compares greater than
# an installed one, and such a file name is not the file the publisher meant to ship.
plain_text() {
  case "$2" in
    *[$'\r\n']* | [[:blank:]]*) fail "$1 $(shown "$2") in $at holds a line break or starts with a blank" ;;
  esac
}
element ver || fail "$at has no <ver> element"
plain_text "the version" "$value"

names=()
if element file && [[ -n "$value" ]]; then
  rest=$value
  while [[ "$rest" == *"<br>"* ]]; do
    names+=("${rest%%"<br>"*}")
    rest=${rest#*"<br>"}
  done
  names+=("$rest")
fi

digests=
for name in "${names[@]}"; do
  plain_text "the file name" "$name"
  # The name the file is saved under must not be one of the updater's own working files (a part
  # file of an arriving download, its lock in the product folder): the updater never saves those.
  saved=${name##*/}
  saved=${saved##*\\}
  case "$saved" in
    .?*.tarnwick-part | .tarnwick-updater.lock)
      fail "the file name $(shown "$name") in $at is one of the updater's own working names" ;;
  esac
  [[ -f "$folder/$name" ]] || fail "$(shown "$name") is listed in $at but is not a file in that folder"
  sum=$(sha256sum < "$folder/$name")
  digests+=${digests:+<br>}${sum%% *}
done

newline=$'\n'
[[ "$content" == *$'\r\n'* ]] && newline=$'\r\n'
# First in the file, where it cannot fall inside another element's text (after a UTF-8 mark).
mark=
[[ "$content" == $'\xef\xbb\xbf'* ]] && mark=$'\xef\xbb\xbf'
content="$mark<sha256>$digests</sha256>$newline${content#"$mark"}"

# Written and signed in a folder of its own beside the manifest (on the same file system, and
# named check.update, which the signature's trusted comment names): the published pair changes
# only once signing has worked, so a mistyped password never leaves new digests beside the old
# signature, which every updater with a key would refuse.
work=$(mktemp -d "$folder/.publish-site.XXXXXX")
trap 'rm -rf -- "$work"' EXIT
printf '%s' "$content" > "$work/check.update"
minisign -S "${key_args[@]}" -m "$work/check.update" > /dev/null ||
  fail "signing failed; $at and its .minisig are unchanged"
mv -f -- "$work/check.update" "$manifest"
mv -f -- "$work/check.update.minisig" "$manifest.minisig"
echo "publish-site: $at lists ${#names[@]} digests and is signed ($at.minisig)"
