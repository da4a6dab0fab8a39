#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/ensure-packages.sh
cmake --preset default
cmake --build --preset default
ctest --preset default

# The whole suite once more under AddressSanitizer and UndefinedBehaviorSanitizer, in its own
# build folder (build/asan). TARNWICK_SKIP_ASAN=1 skips it for a quicker local run.
if [[ "${TARNWICK_SKIP_ASAN:-0}" != 1 ]]; then
  cmake --preset asan
  cmake --build --preset asan
  ctest --preset asan
fi
