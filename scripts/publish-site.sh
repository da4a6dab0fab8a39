#!/usr/bin/env bash
# Prepares one version folder of an update site for upload: writes the SHA-256 digest of every
# file that check.update lists into its <sha256> element (replacing an old one), then signs
# check.update with the publisher's minisign key, beside it as check.update.minisig.
# With --from, it also makes a Zstandard patch for each listed file that changed since the
# installed version shipped it (NAME.zst-patch beside the file) and lists them in <patch>.
# Run it again after any change to the manifest or to a listed file. It refuses a manifest that
# the updater would misread (see the checks below) and then, like after a failed signing, leaves
# the folder as it was.
set -euo pipefail
export LC_ALL=C  # the manifest is handled as bytes

usage() {
  cat <<'EOF'
Usage: scripts/publish-site.sh [-s SECRET_KEY] [-f|--from SHIPPED] SITE/VERSION

  SITE/VERSION   the folder holding check.update and the files it lists, e.g. site/updater/0.3
  -s SECRET_KEY  the minisign secret key (default: minisign's own, ~/.minisign/minisign.key)
  -f, --from SHIPPED
                 the files exactly as the version VERSION shipped them, laid out like the
                 product folder (a listed data/extra.dat is looked for as SHIPPED/data/extra.dat,
                 then as SHIPPED/extra.dat). A listed file found there that changed gets a patch,
                 NAME.zst-patch beside it, when the patch is at most 3/4 of the file's size and
                 neither copy is over 2 GiB; the others are fetched whole. Without it, no patches
                 are listed and old ones of listed files are removed.
EOF
}

key_args=()
from=
while (($#)); do
  case "$1" in
    -s) key_args=(-s "${2:?-s needs a key file}"); shift 2 ;;
    -f | --from) from=${2:?$1 needs a folder}; shift 2 ;;
    --from=*) from=${1#--from=}; shift ;;
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
if [[ -n "$from" ]]; then
  [[ -d "$from" ]] || fail "$(shown "$from") is not a folder"
  command -v zstd > /dev/null || fail "zstd is not installed (Debian package zstd)"
  [[ "$from" == /* ]] || from=./$from  # never read as an option by zstd
fi

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

# drop NAME: removes the old element of that name, written by an earlier run as one
# <NAME>...</NAME> line.
drop() {
  local hit pos len old rest
  while hit=$(tag_at "$content" "$1"); do
    read -r pos len <<< "$hit"
    old=${content:pos}
    [[ "$old" == "<$1>"*"</$1>"* ]] || fail "cannot replace the $1 element of $at; remove it by hand"
    rest=${old#*"</$1>"}
    rest=${rest#$'\r'}
    content=${content:0:pos}${rest#$'\n'}
  done
}
drop sha256
# Patches are listed again below, or not at all: an old entry may name a patch that no longer
# matches its file.
drop patch

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
sums=()
declare -A listed=()
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
  sums+=("${sum%% *}")
  digests+=${digests:+<br>}${sum%% *}
  listed[$name]=1
done

# Made and signed in a folder of its own beside the manifest (on the same file system, and the
# manifest named check.update, which the signature's trusted comment names): the published
# files change only once signing has worked, so a mistyped password never leaves new digests
# beside the old signature, which every updater with a key would refuse.
work=$(mktemp -d "$folder/.publish-site.XXXXXX")
trap 'rm -rf -- "$work"' EXIT

# shipped NAME: the copy the installed version shipped of a listed file, under the name as
# listed, else under the name the updater saves it as (the product folder has no sub-folders).
shipped() {
  local saved=${1##*/}
  saved=${saved##*\\}
  if [[ -f "$from/$1" ]]; then
    echo "$from/$1"
  elif [[ -f "$from/$saved" ]]; then
    echo "$from/$saved"
  else
    return 1
  fi
}

# The updater decodes a patch against its installed copy, so a patch only pays when it is
# clearly smaller than the file: past 3/4 of it, the decoding and the extra file on the site buy
# too little. Zstandard's patch mode takes files up to 2 GiB (its largest window); larger ones
# are fetched whole.
largest=$((1 << 31))
patches=
patched=()    # index of each listed file that gets a patch
saved_bytes=0
for i in "${!names[@]}"; do
  name=${names[i]}
  entry=
  # A patch name that is itself listed stays that listed file.
  if [[ -n "$from" && -z "${listed[$name.zst-patch]:-}" ]] && old=$(shipped "$name"); then
    new_size=$(stat -L -c %s -- "$folder/$name")
    old_size=$(stat -L -c %s -- "$old")
    old_sum=
    if ((new_size <= largest && old_size <= largest)); then
      old_sum=$(sha256sum < "$old")
      old_sum=${old_sum%% *}
    fi
    if [[ -n "$old_sum" && "$old_sum" != "${sums[i]}" ]]; then
      # Level 9: on large files as small a patch as the highest levels give, in seconds instead of
      # minutes; level 19 with one thread missed most of the old copy in a file of 100 MiB. What
      # zstd prints is shown only when something went wrong.
      zstd -q -9 --patch-from="$old" -o "$work/$i.zst-patch" -- "$folder/$name" 2> "$work/zstd.log" ||
        { cat "$work/zstd.log" >&2; fail "zstd could not make the patch for $(shown "$name"); nothing was changed"; }
      patch_size=$(stat -c %s -- "$work/$i.zst-patch")
      if ((patch_size * 4 <= new_size * 3)); then
        sum=$(sha256sum < "$work/$i.zst-patch")
        entry="$old_sum ${sum%% *}"
        patched+=("$i")
        saved_bytes=$((saved_bytes + new_size - patch_size))
      fi
    fi
  fi
  ((i == 0)) || patches+='<br>'
  patches+=$entry
done

newline=$'\n'
[[ "$content" == *$'\r\n'* ]] && newline=$'\r\n'
# First in the file, where they cannot fall inside another element's text (after a UTF-8 mark).
mark=
[[ "$content" == $'\xef\xbb\xbf'* ]] && mark=$'\xef\xbb\xbf'
written="<sha256>$digests</sha256>$newline"
((${#patched[@]} == 0)) || written+="<patch>$patches</patch>$newline"
content="$mark$written${content#"$mark"}"

printf '%s' "$content" > "$work/check.update"
minisign -S "${key_args[@]}" -m "$work/check.update" > /dev/null ||
  fail "signing failed; $at, its .minisig and the patches are unchanged"
# The patches go first: an updater that still reads the old manifest finds a patch that does
# not match its digest there and fetches the file whole.
for i in "${patched[@]}"; do
  mv -f -- "$work/$i.zst-patch" "$folder/${names[i]}.zst-patch"
done
mv -f -- "$work/check.update" "$manifest"
mv -f -- "$work/check.update.minisig" "$manifest.minisig"
# A patch of a listed file that the manifest no longer lists would only mislead whoever reads
# the folder.
declare -A kept=()
for i in "${patched[@]}"; do kept[$i]=1; done
for i in "${!names[@]}"; do
  stale="$folder/${names[i]}.zst-patch"
  if [[ -z "${kept[$i]:-}" && -z "${listed[${names[i]}.zst-patch]:-}" && -f "$stale" ]]; then
    rm -f -- "$stale"
  fi
done
summary="${#names[@]} digests"
case ${#patched[@]} in
  0) ;;
  1) summary+=" and 1 patch ($saved_bytes bytes less to fetch than the file whole)" ;;
  *) summary+=" and ${#patched[@]} patches ($saved_bytes bytes less to fetch than the files whole)" ;;
esac
echo "publish-site: $at lists $summary and is signed ($at.minisig)"
