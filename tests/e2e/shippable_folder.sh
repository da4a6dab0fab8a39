#!/usr/bin/env bash
# The folder `cmake --install` makes is what a publisher copies into Tarnwick's folder.
# Guards against: a shipped folder without the updater or a language sample, a sample that is
# not the one in the repository, and test programs, the demo or build files shipped with it.
# Usage: shippable_folder.sh BUILD_DIR
set -euo pipefail
build=${1:?build folder}
repo="$(cd "$(dirname "$0")/../.." && pwd)"
prefix=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" > "$prefix.log" 2>&1 || { cat "$prefix.log"; rm -f "$prefix.log"; exit 1; }
rm -f "$prefix.log"

status=0
actual=$(cd "$prefix" && find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort)
expected=$(printf '%s\n' Lang Lang/Deutsch.ini Lang/Nederlands.ini tarnwick-updater)
if [[ "$actual" != "$expected" ]]; then
  printf 'FAILED: the installed folder holds\n%s\ninstead of\n%s\n' "$actual" "$expected" >&2
  status=1
fi
[[ -x "$prefix/tarnwick-updater" ]] || { echo "FAILED: tarnwick-updater is not executable" >&2; status=1; }
for sample in "$repo"/demo/app/Lang/*.ini; do
  cmp -s "$sample" "$prefix/Lang/$(basename "$sample")" ||
    { echo "FAILED: Lang/$(basename "$sample") differs from the repository's" >&2; status=1; }
done
((status == 0)) && echo passed
exit "$status"
