#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/ensure-packages.sh
cmake --preset default
cmake --build --preset default
ctest --preset default
