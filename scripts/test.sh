#!/usr/bin/env bash
# Runs every test: installs what is missing, then the host suites (plain and under
# AddressSanitizer/UndefinedBehaviorSanitizer and valgrind), the Wine tests against the real
# Windows Installer, the DLL footprint check and a short round of every fuzz target.
# Usage: scripts/test.sh [--host-only]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
labels=()
if [ "${1:-}" = "--host-only" ]; then labels=(-L host); fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs" "${labels[@]}")

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DUR_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$jobs"
(cd build-asan && ctest --output-on-failure -j "$jobs" -L host)

# The host suite under valgrind memcheck, and every fuzz target for a short while.
scripts/valgrind.sh build
FUZZ_JOBS="$jobs" scripts/fuzz.sh 20

echo "All tests passed."
