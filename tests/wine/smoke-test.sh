#!/usr/bin/env bash
# Installs a small package that runs the three exports of UpdateRegistry.dll under Wine, in a
# fresh prefix, and checks that the install succeeded and that the actions wrote their lines.
# Usage: smoke-test.sh [--work-dir DIR] (--build-dir DIR | path/to/UpdateRegistry.dll)
#   --build-dir DIR  cross-build the DLL into DIR first (scripts/build-windows.sh)
#   --work-dir DIR   where the package, the prefix and the logs go (default: a new temp folder)
# Exit status: 0 passed, 1 failed, 77 skipped (Wine or the mingw-w64 cross compiler missing).
set -uo pipefail

script_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo_root="$(cd "$script_dir/../.." && pwd)"
readonly SKIP_CODE=77
readonly START_LINE='PerformRegistryUpdate: Start registry update ... '
# Prefixes the other two actions put before every line they log.
readonly SUM_PREFIX='GetTotalARPSize: '
readonly ARP_PREFIX='Update ARP Size: '
readonly PRODUCT_NAME='UpdateRegistry Smoke Test'

usage() { sed -n '4,7s/^# \{0,1\}//p' "$0" >&2; exit 2; }

build_dir=""
work_dir=""
dll=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) [ $# -ge 2 ] || usage; build_dir="$2"; shift 2 ;;
    --work-dir) [ $# -ge 2 ] || usage; work_dir="$2"; shift 2 ;;
    -h|--help) usage ;;
    -*) usage ;;
    *) dll="$1"; shift ;;
  esac
done
if [ -z "$build_dir" ] && [ -z "$dll" ]; then usage; fi

failures=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# A prefix takes about 1.3 GB (Wine copies its DLLs in), so a passed run removes it; a failed
# run keeps it for a look at its registry.
finish() {
  if [ "$failures" -eq 0 ]; then
    if [ -n "${WINEPREFIX:-}" ]; then
      wine_prefix_stop
      rm -rf "$work_dir/prefix"
    fi
    echo "wine smoke test: PASS"
    exit 0
  fi
  echo "wine smoke test: FAIL ($failures check(s) failed; files in $work_dir)"
  exit 1
}

for tool in wine wineboot wineserver; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
    exit "$SKIP_CODE"
  fi
done
if [ -n "$build_dir" ] && ! command -v i686-w64-mingw32-g++-win32 >/dev/null 2>&1; then
  echo "SKIP: i686-w64-mingw32-g++-win32 is not installed (scripts/install-deps.sh installs it)"
  exit "$SKIP_CODE"
fi
if ! command -v wixl >/dev/null 2>&1; then
  echo "FAIL: wixl is not installed (scripts/install-deps.sh installs it)"
  exit 1
fi

started=$(date +%s.%N)

if [ -n "$build_dir" ]; then
  if ! dll="$("$repo_root/scripts/build-windows.sh" "$build_dir")"; then
    echo "FAIL: cross build of UpdateRegistry.dll into $build_dir"
    exit 1
  fi
  pass "built $dll"
fi
if [ ! -f "$dll" ]; then
  echo "FAIL: no DLL at $dll"
  exit 1
fi

if [ -z "$work_dir" ]; then
  work_dir="$(mktemp -d "${TMPDIR:-/tmp}/ur-wine-smoke.XXXXXX")"
fi
mkdir -p "$work_dir"
work_dir="$(cd "$work_dir" && pwd)"
# A fresh prefix every run: a product left installed by an earlier run would turn the install
# into a maintenance run.
rm -rf "$work_dir/prefix" "$work_dir/package"
mkdir -p "$work_dir/package"

# wixl resolves source files against its working folder and rejects absolute paths.
cp "$dll" "$work_dir/package/UpdateRegistry.dll"
cp "$script_dir/smoke.wxs" "$work_dir/package/smoke.wxs"
echo "Installed by the UpdateRegistry smoke test." >"$work_dir/package/smoke-payload.txt"
if ! (cd "$work_dir/package" && wixl -a x86 -D CustomActionDll=UpdateRegistry.dll \
        -D PayloadFile=smoke-payload.txt -o smoke.msi smoke.wxs); then
  echo "FAIL: wixl could not build the package"
  exit 1
fi
pass "package built: $work_dir/package/smoke.msi"

# shellcheck source=../../scripts/wine-env.sh
source "$repo_root/scripts/wine-env.sh"
export WINEPREFIX="$work_dir/prefix"
trap 'wine_prefix_stop' EXIT
if ! wine_prefix_ready "$work_dir/prefix"; then
  echo "FAIL: could not make the Wine prefix $work_dir/prefix"
  exit 1
fi
pass "Wine prefix ready: $WINEPREFIX"

install_log="$work_dir/install.log"
uninstall_log="$work_dir/uninstall.log"
# The log is ASCII; Wine writes LF line ends, Windows CRLF. The checks read a copy without the
# CRs (a file, not a pipe: grep -q stops early and pipefail would count that as a failure).
in_log() {
  local log="$1"
  shift
  tr -d '\r' <"$log" >"$log.lf"
  grep -q "$@" "$log.lf"
}
show_log_lines() {
  echo "--- relevant lines of $1:"
  tr -d '\r' <"$1" | grep -n -E "^Action (start|ended) [0-9:]+: (INSTALL|SumARPPrevsizeAndTotalCost|PerformRegistryUpdate|UpdateARPSize)\.|^($SUM_PREFIX|PerformRegistryUpdate: |$ARP_PREFIX|Internal call: )|^1: $PRODUCT_NAME " || echo "(none)"
  echo "---"
}

install_rc=0
wine_msiexec "$work_dir/package" /i smoke.msi /qn /l*v "$install_log" || install_rc=$?
if [ "$install_rc" -eq 0 ]; then pass "msiexec /i exit code 0"; else fail "msiexec /i exit code $install_rc"; fi

if [ ! -f "$install_log" ]; then
  fail "msiexec wrote no log at $install_log"
  finish
fi
# The install as a whole ends with "Action ended <time>: INSTALL. Return value 1." and the
# product line "1: <name> 2: <product code> 3: 1" (3: 0 when it failed).
if msi_log_succeeded "$install_log" &&
   in_log "$install_log" -E "^1: $PRODUCT_NAME 2: \{[0-9A-F-]+\} 3: 1 $"; then
  pass "log says the installation completed successfully"
else
  fail "log does not say the installation completed successfully"
fi
for action in SumARPPrevsizeAndTotalCost PerformRegistryUpdate UpdateARPSize; do
  if in_log "$install_log" -E "^Action ended [0-9:]+: $action\. Return value 1\.$"; then
    pass "$action ran and returned success"
  else
    fail "$action did not run or did not return success"
  fi
done
# A DLL that fails to load or lacks an export is still logged as success, so each action must
# also have written a line of its own.
if in_log "$install_log" -Fx "$START_LINE"; then
  pass "log holds the line '$START_LINE'"
else
  fail "log lacks the line '$START_LINE'"
fi
for prefix in "$SUM_PREFIX" "$ARP_PREFIX"; do
  if in_log "$install_log" -E "^$prefix"; then
    pass "log holds a line starting with '$prefix'"
  else
    fail "log lacks a line starting with '$prefix'"
  fi
done
if [ "$failures" -ne 0 ]; then show_log_lines "$install_log"; fi

if [ -f "$WINEPREFIX/drive_c/Program Files (x86)/UpdateRegistrySmoke/smoke-payload.txt" ] ||
   [ -f "$WINEPREFIX/drive_c/Program Files/UpdateRegistrySmoke/smoke-payload.txt" ]; then
  pass "payload file installed"
else
  fail "payload file not found under Program Files"
fi

uninstall_rc=0
wine_msiexec "$work_dir/package" /x smoke.msi /qn /l*v "$uninstall_log" || uninstall_rc=$?
if [ "$uninstall_rc" -eq 0 ] && msi_log_succeeded "$uninstall_log"; then
  pass "uninstall succeeded"
else
  fail "uninstall: msiexec /x exit code $uninstall_rc"
  show_log_lines "$uninstall_log"
fi

echo "time: $(awk -v s="$started" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f s", e - s }')"
finish
