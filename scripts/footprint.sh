#!/usr/bin/env bash
# Reports the footprint of UpdateRegistry.dll: its size stripped, the DLLs and functions it
# imports, and its exports. Fails when it imports from anything but kernel32, advapi32, msi,
# ole32 and msvcrt, or when it is larger than FOOTPRINT_MAX_KIB (when set).
# Usage: scripts/footprint.sh [path/to/UpdateRegistry.dll]
#   without a path the 32-bit DLL is cross-built first (scripts/build-windows.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
readonly ALLOWED="advapi32.dll kernel32.dll msi.dll msvcrt.dll ole32.dll"

dll="${1:-}"
if [ -z "$dll" ]; then dll=$("$root/scripts/build-windows.sh"); fi
if [ ! -f "$dll" ]; then
  echo "footprint: no DLL at $dll" >&2
  exit 1
fi

# The PE optional header's magic tells 32-bit (0x10b) from 64-bit (0x20b).
pe_offset=$(od -An -tu4 -j60 -N4 "$dll" | tr -d ' ')
magic=$(od -An -tx2 -j$((pe_offset + 24)) -N2 "$dll" | tr -d ' ')
case "$magic" in
  010b) triplet=i686-w64-mingw32; bits=32 ;;
  020b) triplet=x86_64-w64-mingw32; bits=64 ;;
  *) echo "footprint: $dll is not a PE image (magic $magic)" >&2; exit 1 ;;
esac
for tool in objdump strip; do
  if ! command -v "$triplet-$tool" >/dev/null 2>&1; then
    echo "footprint: $triplet-$tool is missing (scripts/install-deps.sh installs it)" >&2
    exit 1
  fi
done

stripped=$(mktemp)
trap 'rm -f "$stripped"' EXIT
"$triplet-strip" -o "$stripped" "$dll"
size=$(stat -c %s "$stripped")
echo "$dll ($bits-bit): $size bytes stripped ($(awk -v s="$size" 'BEGIN { printf "%.1f", s / 1024 }') KiB); as built $(stat -c %s "$dll") bytes"

headers=$("$triplet-objdump" -p "$dll")
echo "sections:"
"$triplet-objdump" -h "$dll" | while read -r index name hexsize _; do
  if [[ "$index" =~ ^[0-9]+$ ]]; then printf '  %-10s %6d bytes\n' "$name" "$((16#$hexsize))"; fi
done
echo "exports:"
echo "$headers" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] \(.*\)/  \1/p'
echo "imports:"
# Each "DLL Name:" line opens a block of hint/name lines: "<vma> <hint> <name>".
echo "$headers" | awk '
  /DLL Name:/ { dll = $3; count[dll] = 0; order[++n] = dll; next }
  dll != "" && /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ { names[dll] = names[dll] " " $3; count[dll]++; next }
  dll != "" && /^$/ { dll = "" }
  END { for (i = 1; i <= n; i++) printf "  %s (%d):%s\n", order[i], count[order[i]], names[order[i]] }' |
  fold -s -w 100 | sed '2,$s/^\([^ ]\)/      \1/'

status=0
while read -r imported; do
  lower=$(echo "$imported" | tr 'A-Z' 'a-z')
  case " $ALLOWED " in
    *" $lower "*) ;;
    *) echo "FAIL: imports $imported, which is not one of: $ALLOWED"; status=1 ;;
  esac
done < <(echo "$headers" | sed -n 's/^\s*DLL Name: //p')

if [ -n "${FOOTPRINT_MAX_KIB:-}" ] && [ "$size" -gt $((FOOTPRINT_MAX_KIB * 1024)) ]; then
  echo "FAIL: $size bytes is more than the limit of $FOOTPRINT_MAX_KIB KiB"
  status=1
fi
if [ "$status" -eq 0 ]; then echo "footprint: OK"; fi
exit "$status"
