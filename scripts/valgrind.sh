#!/usr/bin/env bash
# Runs the host suite under valgrind memcheck: any invalid access, use of uninitialised memory
# or leak (definite, indirect or possible) fails.
# Usage: scripts/valgrind.sh [build-folder]   (default: build; host_tests is built there first)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build="${1:-build}"

if ! command -v valgrind >/dev/null 2>&1; then
  echo "valgrind: not installed (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  generator=()
  if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
  cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Debug >/dev/null
fi
cmake --build "$build" --parallel 2 --target host_tests >/dev/null

# Ten thousand keys take two minutes under memcheck; AddressSanitizer runs that test instead.
started=$(date +%s)
valgrind --quiet --error-exitcode=1 --leak-check=full \
  --errors-for-leak-kinds=definite,indirect,possible \
  --show-leak-kinds=definite,indirect,possible \
  "$build/tests/host_tests" --gtest_brief=1 --gtest_filter=-HostileTest.TenThousandKeysAreEachApplied
echo "valgrind: host suite clean ($(($(date +%s) - started)) s)"
