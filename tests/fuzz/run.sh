#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time on a copy of the seed
# corpus. Usage: tests/fuzz/run.sh [seconds per target, default 60] [build folder]
# Exits non-zero when a target crashes or breaks one of its checks; the input that did it is
# left in the build folder as crash-* (replay: <build>/<target> <that file>).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
seconds="${1:-60}"
build="${2:-$root/build/fuzz}"
mkdir -p "$build"

flags=(-std=c++20 -g -O1 -fPIC -fno-omit-frame-pointer
       -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -I"$root/src")
read -r -a qt <<<"$(pkg-config --cflags --libs Qt6Core)"

build_target() {
  local name="$1"; shift
  local sources=("$@")
  local out="$build/$name"
  # Rebuild only when a source is newer than the binary.
  local stale=0
  [[ -x "$out" ]] || stale=1
  for s in "$here/$name.cpp" "${sources[@]}"; do [[ "$s" -nt "$out" ]] && stale=1; done
  if ((stale)); then
    echo "building $name"
    clang++ "${flags[@]}" "$here/$name.cpp" "${sources[@]}" "${qt[@]}" -o "$out"
  fi
}

build_target ManifestFuzz "$root/src/update/Manifest.cpp" "$root/src/settings/FetchedText.cpp"
build_target IniFuzz "$root/src/settings/IniFile.cpp" "$root/src/settings/FetchedText.cpp"

run_target() {
  local name="$1" seeds="$2"
  local corpus="$build/corpus-$name"
  mkdir -p "$corpus"
  cp -n "$here/corpus/$seeds"/* "$corpus"/ 2>/dev/null || true
  local log="$build/$name.log"
  echo "fuzzing $name for ${seconds}s (log: $log)"
  if (cd "$build" && ASAN_OPTIONS="detect_leaks=0:${ASAN_OPTIONS:-}" "./$name" "$corpus" \
      -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      >"$log" 2>&1); then
    grep -E "DONE|stat::(number_of_executed_units|new_units_added|peak_rss_mb)" "$log" | sed 's/^/  /'
  else
    tail -n 60 "$log"
    return 1
  fi
}

status=0
run_target ManifestFuzz manifest || status=1
run_target IniFuzz ini || status=1
exit $status
