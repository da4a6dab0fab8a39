#!/usr/bin/env bash
# Builds the two libFuzzer targets with clang and runs each for a bounded time on its seeds.
# Usage: tests/fuzz/run.sh [seconds per target, default 60] [build folder]
# Stops with a non-zero status at the first target that crashes or breaks one of its checks; the
# input that did it is left in the build folder as crash-* (replay: <build>/<target> <that file>).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${2:-$root/build/fuzz}"
read -r -a qt <<<"$(pkg-config --cflags --libs Qt6Core)"
manifest=update/Manifest.cpp,update/ManifestDigests.cpp,update/TrustedComment.cpp
for target in ManifestFuzz:manifest:$manifest IniFuzz:ini:settings/IniFile.cpp; do
  IFS=: read -r name seeds source <<<"$target"
  IFS=, read -r -a sources <<<"$source"
  mkdir -p "$build/corpus-$name"
  clang++ -std=c++20 -g -O1 -fPIC -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined \
    -fno-sanitize-recover=undefined -I"$root/src" "$root/tests/fuzz/$name.cpp" "${sources[@]/#/$root/src/}" \
    "$root/src/settings/FetchedText.cpp" "${qt[@]}" -o "$build/$name"
  echo "fuzzing $name for ${1:-60}s (log: $build/$name.log)"
  # New inputs go into the first folder; the seeds in the repository are only read.
  (cd "$build" && ASAN_OPTIONS="detect_leaks=0:${ASAN_OPTIONS:-}" "./$name" "corpus-$name" \
    "$root/tests/fuzz/corpus/$seeds" -max_total_time="${1:-60}" -max_len=65536 -timeout=10 -print_final_stats=1 \
    >"$name.log" 2>&1) || { tail -n 60 "$build/$name.log"; exit 1; }
  grep -E "DONE|stat::(number_of_executed_units|new_units_added|peak_rss_mb)" "$build/$name.log" | sed 's/^/  /'
done
