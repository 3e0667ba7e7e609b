#!/usr/bin/env bash
# Cross-builds UpdateRegistry.dll (32-bit, mingw-w64) into a build folder and prints the DLL's
# path on stdout; the build's own output goes to stderr.
# Usage: scripts/build-windows.sh [build-folder] [extra cmake configure arguments...]
set -euo pipefail

repo_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${1:-$repo_root/build-win32}"
shift || true

configure_args=(-S "$repo_root" -B "$build_dir"
  -DCMAKE_TOOLCHAIN_FILE="$repo_root/cmake/i686-w64-mingw32.cmake")
# The generator is chosen only when the folder is new; CMake refuses to switch it later.
if [ ! -f "$build_dir/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then
  configure_args+=(-G Ninja)
fi

{
  cmake "${configure_args[@]}" "$@"
  cmake --build "$build_dir" --parallel 2
} >&2

dll="$(cd "$build_dir" && pwd)/UpdateRegistry.dll"
if [ ! -f "$dll" ]; then
  echo "build-windows: $dll was not produced" >&2
  exit 1
fi
echo "$dll"
