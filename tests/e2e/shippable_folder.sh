#!/usr/bin/env bash
# The folder `cmake --install` makes is what a publisher copies into Tarnwick's folder.
# Guards against: a shipped folder without the updater or a language sample, a sample that is
# not the one in the repository, and test programs, the demo or build files shipped with it.
# Usage: shippable_folder.sh BUILD_DIR
set -euo pipefail
prefix=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-install.XXXXXX") && trap 'rm -rf "$prefix"' EXIT
cmake --install "${1:?build folder}" --prefix "$prefix" > /dev/null
samples=$(cd "$(dirname "$0")/../../demo/app" && find Lang -name '*.ini' | LC_ALL=C sort)
held=$(cd "$prefix" && find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort)
[[ $held == "$(printf '%s\n' Lang "$samples" tarnwick-updater)" ]] ||
  { printf 'FAILED: installed:\n%s\n' "$held"; exit 1; }
[[ -x $prefix/tarnwick-updater ]] || { echo "FAILED: tarnwick-updater is not executable"; exit 1; }
for sample in $samples; do cmp "$(dirname "$0")/../../demo/app/$sample" "$prefix/$sample"; done
echo passed
