#!/usr/bin/env bash
# Builds UpdateRegistry.dll and shows it at work: installs what is missing, cross-builds the DLL
# into build-win32, builds the example package (examples/UpdateRegistryExample.wxs) with wixl,
# installs it under Wine in a fresh prefix, prints the lines the three actions logged and the
# registry values they wrote, then uninstalls it.
# Usage: scripts/demo.sh [--keep-prefix]   (the prefix, about 1.3 GB, is removed at the end
# unless --keep-prefix is given; logs stay in build-win32/demo)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
keep_prefix=0
case "${1:-}" in
  --keep-prefix) keep_prefix=1 ;;
  "") ;;
  *) sed -n '6,7s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
esac
build_dir="$root/build-win32"
demo_dir="$build_dir/demo"
package="UpdateRegistryExample.msi"
started=$(date +%s)

step() { printf '\n== %s\n' "$*"; }
# The lines the actions send to the installer log: their three prefixes, and the report lines
# of failed calls (whose system text ends in a line break, so their rest starts with "), call: ").
action_lines() {
  tr -d '\r' <"$1" |
    grep -E '^(PerformRegistryUpdate: |GetTotalARPSize: |Update ARP Size: |Internal call:|Error:|\), call: )' ||
    true
}
install_result() {
  tr -d '\r' <"$1" | grep -E '^Action ended [0-9:]+: INSTALL\. Return value' | tail -n 1 || true
}

step "1/5 Installing what is missing (scripts/install-deps.sh)"
"$root/scripts/install-deps.sh"
echo "mingw-w64, Wine and msitools are in place."

step "2/5 Building UpdateRegistry.dll (scripts/build-windows.sh build-win32)"
mkdir -p "$build_dir"
dll="$("$root/scripts/build-windows.sh" "$build_dir" 2>"$build_dir/build.log")" || {
  cat "$build_dir/build.log" >&2
  exit 1
}
echo "$dll ($(stat -c %s "$dll") bytes)"

step "3/5 Building the example package with wixl"
rm -rf "$demo_dir"
mkdir -p "$demo_dir/package"
cp "$dll" "$root/examples/UpdateRegistryExample.wxs" "$root/examples/readme.txt" \
  "$demo_dir/package/"
(cd "$demo_dir/package" && wixl -a x86 -o "$package" UpdateRegistryExample.wxs)
echo "$demo_dir/package/$package"
props="$(msiinfo export "$demo_dir/package/$package" Property | tr -d '\r')"
prop() { awk -F'\t' -v p="$1" '$1 == p { print $2 }' <<<"$props"; }
for p in ZYB_UPDATE_REG_KEYS ZYB_ARP_PREVSIZE ZYB_ARP_SIZE_REG_KEY; do
  printf '  %-21s = %s\n' "$p" "$(prop "$p")"
done

step "4/5 Installing it under Wine: wine msiexec /i $package /qn /l*v install.log"
# shellcheck source=wine-env.sh
source "$root/scripts/wine-env.sh"
trap 'wine_prefix_stop' EXIT
echo "Making a fresh Wine prefix in $demo_dir/prefix (about 15 s) ..."
wine_prefix_ready "$demo_dir/prefix"
rc=0
wine_msiexec "$demo_dir/package" /i "$package" /qn /l*v "$demo_dir/install.log" || rc=$?
echo "msiexec exit code $rc; $(install_result "$demo_dir/install.log")"
echo
echo "What the actions logged (from $demo_dir/install.log):"
action_lines "$demo_dir/install.log" | sed 's/^/  /'
if ! action_lines "$demo_dir/install.log" | grep -E '^(Internal call:|Error:)' >/dev/null; then
  echo "  (no report lines: every platform call the actions made succeeded)"
fi

# The rows the actions applied: those named by the two properties, as the package holds them.
rows="$(msiinfo export "$demo_dir/package/$package" Registry | tr -d '\r' | tail -n +4)"
applied_keys="$(prop ZYB_UPDATE_REG_KEYS);$(prop ZYB_ARP_SIZE_REG_KEY)"
all_users="$(prop ALLUSERS)"
# Both the package (x86) and the DLL (32-bit) use the 32-bit view of HKLM.
echo
echo "Registry values the actions wrote (wine reg query ... /reg:32):"
printf '  %-44s %-14s %-10s %s\n' KEY NAME TYPE DATA
IFS=';' read -r -a keys <<<"$applied_keys"
for k in "${keys[@]}"; do
  [ -n "$k" ] || continue
  IFS=$'\t' read -r _ root_code key name _ < <(awk -F'\t' -v k="$k" '$1 == k' <<<"$rows") || continue
  case "$root_code" in
    0) root_key=HKCR ;; 1) root_key=HKCU ;; 2) root_key=HKLM ;; 3) root_key=HKU ;;
    -1) if [ "$all_users" = 1 ]; then root_key=HKLM; else root_key=HKCU; fi ;;
    *) continue ;;
  esac
  key="${key%\\}"
  line="$(wine reg query "$root_key\\$key" /v "$name" /reg:32 2>/dev/null | tr -d '\r' |
    awk -v n="$name" '$1 == n { $1 = ""; sub(/^ +/, ""); print }')"
  type="${line%% *}"
  data="$(sed -E 's/^[^ ]+ +//' <<<"$line")"
  if [ "$type" = REG_DWORD ]; then data="$data ($((data)))"; fi
  printf '  %-44s %-14s %-10s %s\n' "$root_key\\$key" "$name" "${type:-(none)}" "$data"
done

step "5/5 Uninstalling: wine msiexec /x $package /qn"
rc=0
wine_msiexec "$demo_dir/package" /x "$package" /qn /l*v "$demo_dir/uninstall.log" || rc=$?
echo "msiexec exit code $rc; $(install_result "$demo_dir/uninstall.log")"
echo "Left in HKLM\\Software\\UpdateRegistryExample: the installer removes only its own rows' values,"
echo "so what the actions wrote stays unless the package removes it:"
wine reg query 'HKLM\Software\UpdateRegistryExample' /reg:32 2>/dev/null | tr -d '\r' |
  grep -E '^ +[^ ]' | sed 's/^ */  /' || echo "  (nothing)"

wine_prefix_stop
if [ "$keep_prefix" -eq 0 ]; then rm -rf "$demo_dir/prefix"; fi
echo
echo "Done in $(($(date +%s) - started)) s. Logs: $demo_dir/install.log, $demo_dir/uninstall.log"
