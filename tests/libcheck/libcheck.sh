#!/usr/bin/env bash
# Runs ur-libcheck.exe under Wine against a package built with wixl and checks what the library
# (and the platform calls the host stand-in models) answer on the real Windows Installer.
# Usage: libcheck.sh [--work-dir DIR] path/to/ur-libcheck.exe
# Exit status: 0 passed, 1 failed, 77 skipped (Wine or the program missing).
set -uo pipefail

script_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo_root="$(cd "$script_dir/../.." && pwd)"
readonly SKIP_CODE=77
readonly PRODUCT='{5B0F2C6A-3D41-4E8B-9F17-2A6C8D4E0B93}'
readonly COMPONENT='{C3A1E5F7-2B4D-4C6E-8A9B-0D1F3E5A7C92}'

work_dir=""
exe=""
while [ $# -gt 0 ]; do
  case "$1" in
    --work-dir) work_dir="$2"; shift 2 ;;
    *) exe="$1"; shift ;;
  esac
done
if [ -z "$exe" ]; then sed -n '4,5s/^# \{0,1\}//p' "$0" >&2; exit 2; fi

for tool in wine wineboot wineserver; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
    exit "$SKIP_CODE"
  fi
done
if [ ! -f "$exe" ]; then
  echo "SKIP: no $exe (the Windows build makes it)"
  exit "$SKIP_CODE"
fi
for tool in wixl msiinfo cmp; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "FAIL: $tool is not installed (scripts/install-deps.sh installs it)"
    exit 1
  fi
done

failures=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if [ -z "$work_dir" ]; then work_dir="$(mktemp -d "${TMPDIR:-/tmp}/ur-libcheck.XXXXXX")"; fi
mkdir -p "$work_dir"
work_dir="$(cd "$work_dir" && pwd)"
rm -rf "$work_dir/prefix" "$work_dir/package"
mkdir -p "$work_dir/package"
pkg="$work_dir/package"

cp "$script_dir/libcheck.wxs" "$pkg/"
head -c 777 /dev/urandom >"$pkg/blob.bin"
printf 'hello' >"$pkg/tiny.bin"
echo "main file" >"$pkg/main.txt"
head -c 5000 /dev/urandom >"$pkg/extra.bin"
if ! (cd "$pkg" && wixl -a x86 -o libcheck.msi libcheck.wxs); then
  echo "FAIL: wixl could not build the package"
  exit 1
fi

# shellcheck source=../../scripts/wine-env.sh
source "$repo_root/scripts/wine-env.sh"
export WINEPREFIX="$work_dir/prefix"
trap 'wine_prefix_stop' EXIT
if ! wine_prefix_ready "$work_dir/prefix"; then
  echo "FAIL: could not make the Wine prefix $work_dir/prefix"
  exit 1
fi

# run NAME ARGS...: runs one command of the program in the package folder; its lines go to
# $work_dir/NAME.out without carriage returns.
run() {
  local name="$1"
  shift
  (cd "$pkg" && timeout 120 wine "$exe" "$@") 2>"$work_dir/$name.err" | tr -d '\r' >"$work_dir/$name.out"
}
# expect NAME KEY VALUE: the run NAME printed KEY=VALUE.
expect() {
  if grep -qFx -- "$2=$3" "$work_dir/$1.out"; then
    pass "$1: $2=$3"
  else
    fail "$1: expected $2=$3, got '$(grep -m1 "^$2=" "$work_dir/$1.out")'"
  fi
}
# expect_match NAME KEY REGEX
expect_match() {
  if grep -qE -- "^$2=$3\$" "$work_dir/$1.out"; then
    pass "$1: $2 matches $3"
  else
    fail "$1: $2 does not match $3: '$(grep -m1 "^$2=" "$work_dir/$1.out")'"
  fi
}

# A Binary row extracted byte for byte; a missing row extracts nothing.
run blob binary libcheck.msi Blob blob.out
expect blob extracted 1
if cmp -s "$pkg/blob.bin" "$pkg/blob.out"; then pass "Blob extracted byte for byte"; else fail "Blob differs"; fi
run tiny binary libcheck.msi Tiny tiny.out
expect tiny extracted 1
if [ "$(cat "$pkg/tiny.out" 2>/dev/null)" = hello ] && [ "$(stat -c %s "$pkg/tiny.out")" = 5 ]; then
  pass "Tiny extracted as its 5 bytes"
else
  fail "Tiny not extracted as 5 bytes"
fi
run nope binary libcheck.msi Nope nope.out
expect nope extracted 0
if [ ! -e "$pkg/nope.out" ]; then pass "no file for a missing row"; else fail "file made for a missing row"; fi
run quote binary libcheck.msi "x' OR \`Name\`<>'" quote.out
expect quote extracted 0

# CInstaller::OpenDatabase and a query on the package.
run query query libcheck.msi
expect query execute 0
expect query row1 "LIBCHECK_MARK=marked"
expect query row2 "ProductName=UpdateRegistry Library Check"
expect query missing_database 0

# Summary information read from the package.
run summary summary libcheck.msi
for pair in open=1 title="Installation Database" title_type=30 title_int=0 author=UpdateRegistry \
            codepage_type=2 codepage=1252 pages_type=3 pages=200 created_type=64 created_set=1 \
            unknown_type=0 readonly_persist=1627 missing_open=0 missing_count=0; do
  expect summary "${pair%%=*}" "${pair#*=}"
done

# Changed and persisted, then read back with msiinfo; changed without persisting, unchanged.
cp "$pkg/libcheck.msi" "$pkg/persisted.msi"
run persist summary-set persisted.msi LibcheckTitle 1 direct
for pair in set_title=0 pages_short=-1 words_short=0 codepage_int=-1 \
            created=30408704:2309737967 mismatch=1629 persist=0; do
  expect persist "${pair%%=*}" "${pair#*=}"
done
if msiinfo suminfo "$pkg/persisted.msi" | grep -x 'Title: LibcheckTitle' >/dev/null; then
  pass "msiinfo reads the persisted title"
else
  fail "msiinfo does not read the persisted title: $(msiinfo suminfo "$pkg/persisted.msi" | head -1)"
fi
cp "$pkg/libcheck.msi" "$pkg/dropped.msi"
run dropped summary-set dropped.msi DroppedTitle 0 direct
expect dropped set_title 0
if msiinfo suminfo "$pkg/dropped.msi" | grep -x 'Title: Installation Database' >/dev/null; then
  pass "a change without persist leaves the package unchanged"
else
  fail "a change without persist reached the package"
fi

# Record streams as the platform reads them (the stand-in models these answers).
run streams streams libcheck.msi
for pair in size=5 read2_len=2 size_after_read=5 read_rest_len=3 read_end_len=0 null_buffer=0 \
            null_buffer_len=5 read_after_null_len=5 read_text_field=1804 reset=0 \
            read_after_reset_len=5 set_missing=3 set_field0=87 set_file=0 read_null_field=13; do
  expect streams "${pair%%=*}" "${pair#*=}"
done

# Feature and component state and cost in a package session.
run package package libcheck.msi
for pair in opened=1 mark=marked CostInitialize=0 FileCost=0 CostFinalize=0 set_feature_local=0 \
            feature_request_after=3 set_component_source=0 component_request_source=4 \
            set_feature_unknown=1606 feature_current_unknown=-1 component_current_unknown=-1 \
            costs_unknown_component=0; do
  expect package "${pair%%=*}" "${pair#*=}"
done
expect_match package costs_main 'C:/[1-9][0-9]*/[0-9]+'

# Codes the installer does not know, the user-interface level, the last-error record.
run unknown unknown
for pair in ui_first=1 ui_again=1 ui_set=1 ui_now=2 clients_unknown= clients_unknown_code=1607 \
            path_unknown=-1 info_unknown=1605 info_bad=87 open_unknown=0 open_unknown_code=1605 \
            open_package_missing=2 query_unknown=-1 configure_unknown=1605 last_error=0; do
  expect unknown "${pair%%=*}" "${pair#*=}"
done

# TempFileName: the suffix after the system's name, and no file left behind.
run temp tempfile 'C:\windows\temp'
expect_match temp name 'C:\\windows\\temp\\urx[0-9a-fA-F]+\.tmp\.part'
for pair in system_exists=0 name_exists=0 missing_folder=0 raw_missing=0 raw_missing_error=267 \
            create_missing_folder=1 create_missing_folder_error=3 version_none= \
            version_missing_code=2; do
  expect temp "${pair%%=*}" "${pair#*=}"
done

# Components and clients after an install of the package.
if (cd "$pkg" && timeout 300 wine msiexec /i libcheck.msi /qn /l*v "$work_dir/install.log"); then
  pass "package installed"
else
  fail "msiexec /i failed"
fi
run installed installed "$PRODUCT" "$COMPONENT" Main
for pair in component_listed=1 clients="$PRODUCT" product_name="UpdateRegistry Library Check" \
            version=2.5.1 feature_state=3 opened=1 opened_mark=marked; do
  expect installed "${pair%%=*}" "${pair#*=}"
done
expect_match installed path '.*\\UpdateRegistryLibCheck\\main\.txt'

if [ "$failures" -eq 0 ]; then
  wine_prefix_stop
  rm -rf "$work_dir/prefix"
  echo "wine libcheck: PASS"
  exit 0
fi
echo "wine libcheck: FAIL ($failures check(s) failed; files in $work_dir)"
exit 1
