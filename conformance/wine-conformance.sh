#!/usr/bin/env bash
# Runs the conformance scenarios on the real Windows Installer under Wine: one package per
# scenario (a skeleton built once with wixl, the scenario's raw Registry rows put in with
# msibuild), every scenario in one ur-runner process, and the output held to the scenarios'
# expectations by ur-conformance.
# Usage: wine-conformance.sh --win-dir DIR --tool PATH [--arch ARCH] [--work-dir DIR] SCENARIOS...
#   --win-dir DIR   Windows build holding UpdateRegistry.dll and ur-runner.exe
#   --tool PATH     the host tool ur-conformance
#   --arch ARCH     the build's architecture: x86 (default) or x64 (64-bit packages)
#   --work-dir DIR  packages, runner output and the Wine prefix (default: a new temp folder)
#   SCENARIOS       .scn files or folders of them
# Exit status: 0 all conform, 1 a scenario failed, 77 skipped (Wine missing).
set -uo pipefail

script_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo_root="$(cd "$script_dir/.." && pwd)"
readonly SKIP_CODE=77

usage() { sed -n '6,12s/^# \{0,1\}//p' "$0" >&2; exit 2; }

win_dir=""
tool=""
arch=x86
work_dir=""
scenarios=()
while [ $# -gt 0 ]; do
  case "$1" in
    --win-dir) [ $# -ge 2 ] || usage; win_dir="$2"; shift 2 ;;
    --tool) [ $# -ge 2 ] || usage; tool="$2"; shift 2 ;;
    --arch) [ $# -ge 2 ] || usage; arch="$2"; shift 2 ;;
    --work-dir) [ $# -ge 2 ] || usage; work_dir="$2"; shift 2 ;;
    -h|--help) usage ;;
    -*) usage ;;
    *) scenarios+=("$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"); shift ;;
  esac
done
[ -n "$win_dir" ] && [ -n "$tool" ] && [ ${#scenarios[@]} -gt 0 ] || usage
case "$arch" in x86|x64) ;; *) usage ;; esac

for program in wine wineboot wineserver; do
  if ! command -v "$program" >/dev/null 2>&1; then
    echo "SKIP: $program is not installed (scripts/install-deps.sh installs it)"
    exit "$SKIP_CODE"
  fi
done
for program in wixl msibuild; do
  if ! command -v "$program" >/dev/null 2>&1; then
    echo "FAIL: $program is not installed (scripts/install-deps.sh installs msitools and wixl)"
    exit 1
  fi
done
for file in UpdateRegistry.dll ur-runner.exe; do
  if [ ! -f "$win_dir/$file" ]; then
    echo "FAIL: no $file in $win_dir (scripts/build-windows.sh builds both)"
    exit 1
  fi
done

started=$(date +%s.%N)
elapsed() { awk -v s="$started" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f s", e - s }'; }

if [ -z "$work_dir" ]; then
  work_dir="$(mktemp -d "${TMPDIR:-/tmp}/ur-wine-conformance.XXXXXX")"
fi
mkdir -p "$work_dir"
work_dir="$(cd "$work_dir" && pwd)"
# A fresh prefix every run: registry contents left by an earlier run must not count.
rm -rf "$work_dir/prefix" "$work_dir/run"
mkdir -p "$work_dir/run/packages" "$work_dir/run/skeleton"
run_dir="$work_dir/run"

if ! "$tool" prepare --out "$run_dir" --dll UpdateRegistry.dll "${scenarios[@]}"; then
  echo "FAIL: the scenarios could not be prepared"
  exit 1
fi

# wixl resolves its inputs against its working folder. A 64-bit runner opens a 64-bit package,
# as a 64-bit DLL is shipped in one.
cp "$script_dir/skeleton.wxs" "$run_dir/skeleton/"
if ! (cd "$run_dir/skeleton" && wixl -a "$arch" -o skeleton.msi skeleton.wxs); then
  echo "FAIL: wixl could not build the skeleton package"
  exit 1
fi
# wixl always writes an (empty) Registry table; the second skeleton has none.
cp "$run_dir/skeleton/skeleton.msi" "$run_dir/skeleton/no-table.msi"
if ! msibuild "$run_dir/skeleton/no-table.msi" -q "DROP TABLE Registry"; then
  echo "FAIL: msibuild could not drop the Registry table"
  exit 1
fi

count=0
while read -r name kind; do
  package="$run_dir/packages/$name.msi"
  if [ "$kind" = "table" ]; then
    cp "$run_dir/skeleton/skeleton.msi" "$package"
    if ! msibuild "$package" -i "$run_dir/rows/$name.idt" >"$run_dir/msibuild.log" 2>&1; then
      echo "FAIL: msibuild could not import the rows of scenario $name:"
      cat "$run_dir/msibuild.log"
      exit 1
    fi
  else
    cp "$run_dir/skeleton/no-table.msi" "$package"
  fi
  count=$((count + 1))
done <"$run_dir/manifest.txt"
echo "packages: $count built ($(elapsed))"

cp "$win_dir/UpdateRegistry.dll" "$win_dir/ur-runner.exe" "$run_dir/"

# shellcheck source=../scripts/wine-env.sh
source "$repo_root/scripts/wine-env.sh"
trap 'wine_prefix_stop' EXIT
if ! wine_prefix_ready "$work_dir/prefix"; then
  echo "FAIL: could not make the Wine prefix $work_dir/prefix"
  exit 1
fi
echo "Wine prefix ready: $WINEPREFIX ($(elapsed))"

(cd "$run_dir" && timeout 300 wine ur-runner.exe @runner-args.txt >runner-output.txt 2>runner-errors.txt)
runner_rc=$?
echo "ur-runner: exit code $runner_rc ($(elapsed))"
if [ -s "$run_dir/runner-errors.txt" ]; then
  echo "--- ur-runner stderr:"
  cat "$run_dir/runner-errors.txt"
fi

"$tool" check --output "$run_dir/runner-output.txt" "${scenarios[@]}"
check_rc=$?
echo "time: $(elapsed)"
if [ "$runner_rc" -eq 0 ] && [ "$check_rc" -eq 0 ]; then
  # A prefix takes over a gigabyte; a passed run removes it, a failed one keeps it to look at.
  wine_prefix_stop
  rm -rf "$work_dir/prefix"
  echo "wine conformance: PASS"
  exit 0
fi
echo "wine conformance: FAIL (files in $work_dir)"
exit 1
