#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12: the host toolchain and GoogleTest,
# the mingw-w64 cross compiler, 32-bit capable Wine and msitools. Safe to run again.
set -euo pipefail

packages=(
  cmake ninja-build g++ libgtest-dev libgmock-dev
  g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
  wine wine32:i386 wine64
  msitools wixl
  clang libclang-rt-14-dev valgrind libbenchmark-dev
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
