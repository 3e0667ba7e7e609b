#!/usr/bin/env bash
# Times PerformRegistryUpdate against the installer's own WriteRegistryValues under Wine, in one
# fresh prefix, with packages holding ROWS Registry rows twice: once in an installed component
# (key Installer, written by WriteRegistryValues) and once in a component of a level-0 feature
# (key Actions, all of them listed in ZYB_UPDATE_REG_KEYS, written by PerformRegistryUpdate).
#  (a) `wine msiexec /i` of that package and of one with no rows, REPEAT times each. The log's
#      "Action start/ended" lines give whole seconds only, so BenchStamp.dll (bench/wine/),
#      scheduled before and after each timed action, logs QueryPerformanceCounter in
#      microseconds; a stamp right after another (next to each timed action) gives the cost of
#      a stamp, taken off. WriteRegistryValues only queues its rows where it is scheduled; the
#      installer writes them while InstallFinalize runs its script, so its time is its own
#      stamps' span plus InstallFinalize's span less that of the package without rows.
#  (b) ur-runner --time: PerformRegistryUpdate in-process over the ROWS keys and over an empty
#      key list, REPEAT times each, with the same package opened (not installed).
# Prints the medians and the ratios to WriteRegistryValues. Not part of scripts/test.sh.
# Usage: scripts/bench-wine.sh [--rows N] [--repeat R] [--win-dir DIR] [--work-dir DIR]
#                              [--keep-prefix]
#   --rows N        Registry rows per key (default 1000)
#   --repeat R      installs (and runner runs) per row count (default 5)
#   --win-dir DIR   32-bit Windows build to use or make (default build-bench-wine32)
#   --work-dir DIR  packages, logs, results and the prefix (default build-bench-wine32/bench)
#   --keep-prefix   keep the Wine prefix (about 1.3 GB) instead of removing it
# Exit status: 0 done, 1 a step failed, 2 bad usage.
set -uo pipefail

repo_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
readonly BENCH_KEY='Software\UpdateRegistryBench'

usage() { sed -n '13,19s/^# \{0,1\}//p' "$0" >&2; exit 2; }
rows=1000
repeat=5
win_dir="$repo_root/build-bench-wine32"
work_dir=""
keep_prefix=0
while [ $# -gt 0 ]; do
  case "$1" in
    --rows) [ $# -ge 2 ] || usage; rows="$2"; shift 2 ;;
    --repeat) [ $# -ge 2 ] || usage; repeat="$2"; shift 2 ;;
    --win-dir) [ $# -ge 2 ] || usage; win_dir="$2"; shift 2 ;;
    --work-dir) [ $# -ge 2 ] || usage; work_dir="$2"; shift 2 ;;
    --keep-prefix) keep_prefix=1; shift ;;
    *) usage ;;
  esac
done
[[ "$rows" =~ ^[1-9][0-9]*$ && "$repeat" =~ ^[1-9][0-9]*$ ]] || usage
[ -n "$work_dir" ] || work_dir="$win_dir/bench"

die() { echo "bench-wine: $*" >&2; exit 1; }
for program in wine wineboot wineserver wixl msibuild msiinfo i686-w64-mingw32-g++-win32; do
  command -v "$program" >/dev/null 2>&1 ||
    die "$program is not installed (scripts/install-deps.sh installs it)"
done

echo "== building the 32-bit DLL, ur-runner and BenchStamp.dll"
mkdir -p "$win_dir"
scripts_out="$("$repo_root/scripts/build-windows.sh" "$win_dir" 2>"$win_dir/bench-build.log")" ||
  die "the Windows build failed (see $win_dir/bench-build.log)"
win_dir="$(dirname "$scripts_out")"
[ -f "$win_dir/ur-runner.exe" ] || die "no ur-runner.exe in $win_dir"
mkdir -p "$work_dir"
work_dir="$(cd "$work_dir" && pwd)"
rm -rf "$work_dir/package" "$work_dir/logs" "$work_dir/prefix"
mkdir -p "$work_dir/package" "$work_dir/logs"
package="$work_dir/package"
i686-w64-mingw32-g++-win32 -std=c++17 -Wall -Wextra -Werror -O2 -shared -static -s \
  -Wl,--kill-at -o "$package/BenchStamp.dll" "$repo_root/bench/wine/stamp.cpp" -lmsi ||
  die "could not build BenchStamp.dll"
cp "$win_dir/UpdateRegistry.dll" "$win_dir/ur-runner.exe" "$repo_root/bench/wine/bench.wxs" \
  "$package/"

# Package with $1 rows per key: a row that creates the Actions key (the action never creates
# one), then row i under both keys, integers and texts alternating.
make_package() {
  local count=$1 msi="bench-$1.msi" keys
  {
    printf 'Registry\tRoot\tKey\tName\tValue\tComponent_\n'
    printf 's72\ti2\tl255\tL255\tL0\ts72\n'
    printf 'Registry\tRegistry\n'
    printf 'CreateActionsKey\t1\t%s\\Actions\t+\t\tInstallerRows\n' "$BENCH_KEY"
    awk -v n="$count" -v a="$BENCH_KEY\\Installer" -v b="$BENCH_KEY\\Actions" 'BEGIN {
      for (i = 1; i <= n; ++i) {
        value = i % 2 ? "Value number " i : "#" i
        printf "I_%04d\t1\t%s\tV%04d\t%s\tInstallerRows\n", i, a, i, value
        printf "A_%04d\t1\t%s\tV%04d\t%s\tActionRows\n", i, b, i, value
      } }'
  } >"$package/Registry-$count.idt"
  keys="$(awk -v n="$count" 'BEGIN {
    for (i = 1; i <= n; ++i) printf "%sA_%04d", (i > 1 ? ";" : ""), i }')"
  (cd "$package" && cp bench.msi "$msi" && msibuild "$msi" -i "Registry-$count.idt" &&
    msiinfo export "$msi" Property |
      awk -F'\t' -v keys="$keys" -v OFS='\t' '$1 == "ZYB_UPDATE_REG_KEYS" {
        if (keys == "") next
        $2 = keys } { print }' >"Property-$count.idt" &&
    msibuild "$msi" -i "Property-$count.idt") >/dev/null
}
(cd "$package" && wixl -a x86 -o bench.msi bench.wxs) || die "wixl could not build the package"
make_package 0 && make_package "$rows" || die "msibuild could not build the packages"

# shellcheck source=wine-env.sh
source "$repo_root/scripts/wine-env.sh"
cleanup() {
  wine_prefix_stop
  if [ "$keep_prefix" -eq 0 ]; then rm -rf "$work_dir/prefix"; fi
}
trap cleanup EXIT
wine_prefix_ready "$work_dir/prefix" || die "could not make the Wine prefix"
echo "== Wine prefix ready: $WINEPREFIX"

# One line per install from a verbose log: each stamp's counter (microseconds) and the whole
# seconds between "Action start" and "Action ended" of the two timed actions.
stamps_of() {
  tr -d '\r' <"$1" | awk '
    function seconds(t, p) { split(t, p, ":"); return p[1] * 3600 + p[2] * 60 + p[3] }
    match($0, /^Action start [0-9:]+: [A-Za-z]+\.$/) {
      split($0, w, " "); action = substr(w[4], 1, length(w[4]) - 1)
      start[action] = seconds(substr(w[3], 1, length(w[3]) - 1))
    }
    match($0, /^Action ended [0-9:]+: [A-Za-z]+\. /) {
      split($0, w, " "); name = substr(w[4], 1, length(w[4]) - 1)
      ended[name] = seconds(substr(w[3], 1, length(w[3]) - 1)) - start[name]
    }
    /^BenchStamp: [0-9]+$/ { stamp[action] = $2 }
    END {
      idle = stamp["StampIdle"] - stamp["StampAfterUpdate"]
      idleWrite = stamp["StampBeforeWrite"] - stamp["StampIdleBeforeWrite"]
      printf "%d %d %d %d %d %d\n", idle,
        stamp["StampAfterWrite"] - stamp["StampBeforeWrite"] - idleWrite,
        stamp["StampBeforeUpdate"] - stamp["StampBeforeFinalize"] - idle,
        stamp["StampAfterUpdate"] - stamp["StampBeforeUpdate"] - idle,
        ended["WriteRegistryValues"], ended["PerformRegistryUpdate"]
    }'
}

results="$work_dir/results.tsv"
printf '%s\t' kind rows run idle_us write_us finalize_us update_us write_log_s update_log_s \
  >"$results"
printf 'wall_ms\n' >>"$results"
echo "== (a) wine msiexec /i, $repeat installs per row count"
for run in $(seq 1 "$repeat"); do
  for count in 0 "$rows"; do
    log="$work_dir/logs/install-$count-$run.log"
    began=$(date +%s%N)
    wine_msiexec "$package" /i "bench-$count.msi" /qn /l*v "$log"
    rc=$?
    wall=$(( ($(date +%s%N) - began) / 1000000 ))
    [ "$rc" -eq 0 ] && msi_log_succeeded "$log" || die "install of bench-$count.msi failed ($log)"
    applied=$(tr -d '\r' <"$log" |
      grep -c '^PerformRegistryUpdate: UpdateRegistryEntry: Reg_Value Value: ')
    [ "$applied" -eq "$count" ] ||
      die "PerformRegistryUpdate applied $applied rows, not $count ($log)"
    if tr -d '\r' <"$log" | grep -Eq '^PerformRegistryUpdate: .*error code'; then
      die "PerformRegistryUpdate reported a failed call ($log)"
    fi
    read -r idle write finalize update write_s update_s <<<"$(stamps_of "$log")"
    [ "$idle" -gt 0 ] && [ "$write" -gt -"$idle" ] || die "stamps missing in $log"
    printf 'msiexec\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$count" "$run" "$idle" "$write" \
      "$finalize" "$update" "$write_s" "$update_s" "$wall" >>"$results"
    awk -v c="$count" -v r="$run" -v w="$write" -v f="$finalize" -v u="$update" -v i="$idle" \
      -v t="$wall" 'BEGIN {
        printf "  rows %-5s run %s: WriteRegistryValues %7.1f ms, InstallFinalize %7.1f ms, ", c, r,
          w / 1000, f / 1000
        printf "PerformRegistryUpdate %7.1f ms (stamp %4.1f ms, install %4.1f s)\n", u / 1000,
          i / 1000, t / 1000 }'
    wine_msiexec "$package" /x "bench-$count.msi" /qn /l*v \
      "$work_dir/logs/remove-$count-$run.log" || die "uninstall of bench-$count.msi failed"
    (cd "$package" && wine reg delete "HKCU\\$BENCH_KEY" /f >/dev/null 2>&1)
  done
done

echo "== (b) ur-runner --time, $repeat runs per key list in one process"
args="$package/runner-args.txt"
: >"$args"
for run in $(seq 1 "$repeat"); do
  for count in 0 "$rows"; do
    printf '%s\n' --dll UpdateRegistry.dll --package "bench-$rows.msi" --time \
      --clear-key "HKCU\\$BENCH_KEY" --create-key "HKCU\\$BENCH_KEY\\Actions" >>"$args"
    [ "$count" -eq 0 ] && printf '%s\n' --property ZYB_UPDATE_REG_KEYS= >>"$args"
    printf '%s\n' --call PerformRegistryUpdate --dump-key "HKCU\\$BENCH_KEY\\Actions" \
      --next >>"$args"
  done
done
sed -i '$d' "$args"
(cd "$package" &&
  timeout 900 wine ur-runner.exe @runner-args.txt >runner-output.txt 2>runner-errors.txt) ||
  die "ur-runner failed (see $package/runner-output.txt and runner-errors.txt)"
# Per run: the key list's length (values the dump shows) and the export's microseconds.
awk -v rows="$rows" '
  /^package / { values = 0 }
  /^value / { ++values }
  /^time PerformRegistryUpdate / { micros = $3 }
  /^end$/ { printf "runner\t%d\t%d\t\t\t\t%d\t\t\t\n", values, ++run[values], micros }
' "$package/runner-output.txt" >>"$results"
for count in 0 "$rows"; do
  got=$(awk -F'\t' -v c="$count" '$1 == "runner" && $2 == c' "$results" | wc -l)
  [ "$got" -eq "$repeat" ] || die "ur-runner: $got runs wrote $count values, expected $repeat"
done

# Median of column $3 for kind $1 and row count $2, in milliseconds.
median_ms() {
  awk -F'\t' -v k="$1" -v c="$2" -v col="$3" '$1 == k && $2 == c { print $col }' "$results" |
    sort -n | awk '{ v[NR] = $1 } END {
      m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.1f", m / 1000 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "n/a" }'; }
minus() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a - b }'; }

w0=$(median_ms msiexec 0 5); wn=$(median_ms msiexec "$rows" 5)
f0=$(median_ms msiexec 0 6); fn=$(median_ms msiexec "$rows" 6)
u0=$(median_ms msiexec 0 7); un=$(median_ms msiexec "$rows" 7)
s0=$(median_ms msiexec 0 4); sn=$(median_ms msiexec "$rows" 4)
t0=$(median_ms msiexec 0 10); tn=$(median_ms msiexec "$rows" 10)
r0=$(median_ms runner 0 7); rn=$(median_ms runner "$rows" 7)
fd=$(minus "$fn" "$f0"); ud=$(minus "$un" "$u0"); rd=$(minus "$rn" "$r0")
# WriteRegistryValues as a whole: queuing where it is scheduled, writing inside InstallFinalize.
wt=$(awk -v w="$wn" -v f="$fd" 'BEGIN { printf "%.1f", w + f }')

row() { printf '%-46s %11s %11s %11s\n' "$@"; }
echo
echo "Wine benchmark: $rows Registry rows per key, medians of $repeat runs, milliseconds"
echo "(msiexec: stamp-to-stamp span less one stamp's cost; ur-runner: the export in-process)"
row "" "0 rows" "$rows rows" "difference"
row "msiexec WriteRegistryValues, queuing" "$w0" "$wn" "$(minus "$wn" "$w0")"
row "msiexec InstallFinalize (writes the rows)" "$f0" "$fn" "$fd"
row "msiexec WriteRegistryValues, whole" "" "$wt" ""
row "msiexec PerformRegistryUpdate" "$u0" "$un" "$ud"
row "ur-runner PerformRegistryUpdate" "$r0" "$rn" "$rd"
row "one stamp (taken off above)" "$s0" "$sn" ""
row "whole wine msiexec /i (seconds)" "$t0" "$tn" ""
echo
echo "Ratios to msiexec WriteRegistryValues, whole ($wt ms for $rows rows)"
row "" "$rows rows" "difference" ""
row "msiexec PerformRegistryUpdate" "$(ratio "$un" "$wt")" "$(ratio "$ud" "$wt")" ""
row "ur-runner PerformRegistryUpdate" "$(ratio "$rn" "$wt")" "$(ratio "$rd" "$wt")" ""
echo
echo "Raw figures: $results; logs: $work_dir/logs"
