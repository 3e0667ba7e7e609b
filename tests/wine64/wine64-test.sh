#!/usr/bin/env bash
# The 64-bit UpdateRegistry.dll under Wine: a 64-bit package (wixl -a x64, Win64 components)
# installed in a fresh prefix runs the three exports, which must write into the 64-bit
# registry view.
# Usage: wine64-test.sh build BUILD-DIR     cross-build the 64-bit DLL and runner into BUILD-DIR
#        wine64-test.sh run WORK-DIR DLL    install the package with DLL in WORK-DIR/prefix
# Exit status: 0 passed, 1 failed, 77 skipped (Wine or the 64-bit cross compiler missing).
set -uo pipefail

script_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo_root="$(cd "$script_dir/../.." && pwd)"
readonly SKIP_CODE=77
readonly KEY='HKLM\Software\UpdateRegistryWine64'

build() {
  local dir=$1
  if ! command -v x86_64-w64-mingw32-g++-win32 >/dev/null 2>&1; then
    echo "SKIP: x86_64-w64-mingw32-g++-win32 is not installed (scripts/install-deps.sh installs it)"
    exit "$SKIP_CODE"
  fi
  local args=(-S "$repo_root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$repo_root/cmake/x86_64-w64-mingw32.cmake")
  if [ ! -f "$dir/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then args+=(-G Ninja); fi
  cmake "${args[@]}" >/dev/null && cmake --build "$dir" --parallel 2 --target UpdateRegistry ur-runner || exit 1
  echo "built $dir/UpdateRegistry.dll"
}

failures=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The data of value $2 under key $1 in the 64-bit view as `reg query` prints it ("REG_SZ text"),
# empty if absent. `wine reg` is the 32-bit reg.exe: /reg:64 and /reg:32 choose the view.
reg_value() {
  wine reg query "$1" /v "$2" /reg:64 2>/dev/null | tr -d '\r' |
    awk -v name="$2" '$1 == name { $1 = ""; sub(/^ +/, ""); print }'
}

run() {
  local work=$1 dll=$2
  for tool in wine wineboot wineserver; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
      exit "$SKIP_CODE"
    fi
  done
  [ -f "$dll" ] || { echo "FAIL: no DLL at $dll"; exit 1; }
  rm -rf "$work/prefix" "$work/package"
  mkdir -p "$work/package"
  work="$(cd "$work" && pwd)"
  cp "$dll" "$work/package/UpdateRegistry.dll"
  cp "$script_dir/package64.wxs" "$work/package/"
  echo "Installed by the UpdateRegistry 64-bit test." >"$work/package/payload.txt"
  if ! (cd "$work/package" && wixl -a x64 -D CustomActionDll=UpdateRegistry.dll \
          -D PayloadFile=payload.txt -o package64.msi package64.wxs 2>/dev/null); then
    echo "FAIL: wixl could not build the package"
    exit 1
  fi

  # shellcheck source=../../scripts/wine-env.sh
  source "$repo_root/scripts/wine-env.sh"
  trap 'wine_prefix_stop' EXIT
  wine_prefix_ready "$work/prefix" || { echo "FAIL: could not make the Wine prefix"; exit 1; }

  local log="$work/install.log"
  (cd "$work/package" && timeout 300 wine msiexec /i package64.msi /qn /l*v "$log")
  local rc=$?
  [ "$rc" -eq 0 ] && pass "msiexec /i exit code 0" || fail "msiexec /i exit code $rc"
  [ -f "$log" ] || { fail "no install log"; finish "$work"; }
  tr -d '\r' <"$log" >"$log.lf"
  for line in 'PerformRegistryUpdate: Start registry update ... ' \
              'PerformRegistryUpdate: UpdateRegistryEntry: root: HKEY_LOCAL_MACHINE ' \
              'PerformRegistryUpdate: UpdateRegistryEntry: Value "42" will be stored as an integer (REG_DWORD)' \
              'PerformRegistryUpdate: Registry update complete! ' \
              'GetTotalARPSize: Size calculation complete' \
              'Update ARP Size: UpdateRegistryEntry: New value "3" will be added to previous registry value "5" and will be stored as an integer (REG_DWORD)' \
              'Update ARP Size: Complete ARP size updating'; do
    if grep -Fxq -- "$line" "$log.lf"; then pass "log: $line"; else fail "log lacks: $line"; fi
  done
  # A refused open or write would be reported; the 64-bit DLL sees the key in its own view.
  if grep -q '^Internal call: error code' "$log.lf"; then
    fail "the actions reported failed calls:"
    grep '^Internal call: error code' "$log.lf" | head -5
  else
    pass "no failed call reported"
  fi

  local text number size
  text=$(reg_value "$KEY" ActionText)
  number=$(reg_value "$KEY" ActionNumber)
  size=$(reg_value "$KEY" Size)
  [ "$text" = "REG_SZ written by the 64-bit DLL" ] && pass "64-bit view: ActionText = $text" ||
    fail "64-bit view: ActionText is '$text'"
  [ "$number" = "REG_DWORD 0x2a" ] && pass "64-bit view: ActionNumber = $number" ||
    fail "64-bit view: ActionNumber is '$number'"
  [ "$size" = "REG_DWORD 0x8" ] && pass "64-bit view: Size = $size (5 + 3)" ||
    fail "64-bit view: Size is '$size'"
  if wine reg query "$KEY" /reg:32 >/dev/null 2>&1; then
    fail "the 32-bit view holds $KEY"
  else
    pass "the 32-bit view holds no such key"
  fi
  finish "$work"
}

finish() {
  if [ "$failures" -eq 0 ]; then
    wine_prefix_stop
    rm -rf "$1/prefix"
    echo "wine64 test: PASS"
    exit 0
  fi
  echo "wine64 test: FAIL ($failures check(s) failed; files in $1)"
  exit 1
}

case "${1:-}" in
  build) [ $# -eq 2 ] || exit 2; build "$2" ;;
  run) [ $# -eq 3 ] || exit 2; run "$2" "$3" ;;
  *) sed -n '5,7s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
esac
