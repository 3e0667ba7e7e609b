#!/usr/bin/env bash
# Writes the same registry rows twice in one install under Wine: once by the installer's own
# registry handling (key Installer) and once by PerformRegistryUpdate (key Actions), then
# compares the two keys value by value (type and exact bytes). Every case of cases.tsv must
# come out equal, except the differences listed in differences.tsv (deliberate ones, and gaps
# the actions do not cover), where the action's value must be exactly the one listed there.
# Prints the comparison table.
# Usage: parity-test.sh [--work-dir DIR] path/to/UpdateRegistry.dll
# Exit status: 0 passed, 1 failed, 77 skipped (Wine missing).
set -uo pipefail

script_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=../common.sh
source "$script_dir/../common.sh"

readonly KEY_ROOT='Software\UpdateRegistryParity'
readonly INSTALLER_KEY="$KEY_ROOT\\Installer"
readonly ACTIONS_KEY="$KEY_ROOT\\Actions"

setup_test ur-parity 8 "$@"

# Registry rows from the cases: a row that creates the Actions key (the action never creates
# one), then each case under both keys. Name "+" with no value only creates the key.
{
  printf 'Registry\tRoot\tKey\tName\tValue\tComponent_\n'
  printf 's72\ti2\tl255\tL255\tL0\ts72\n'
  printf 'Registry\tRegistry\n'
  printf 'CreateActionsKey\t1\t%s\t+\t\tInstallerRows\n' "$ACTIONS_KEY"
  awk -F'\t' -v a="$INSTALLER_KEY" -v b="$ACTIONS_KEY" 'NR > 1 {
    printf "I_%s\t1\t%s\t%s\t%s\tInstallerRows\n", $1, a, $2, $3
    printf "A_%s\t1\t%s\t%s\t%s\tActionRows\n", $1, b, $2, $3
  }' "$script_dir/cases.tsv"
} >"$package/Registry.idt"
action_keys="$(awk -F'\t' 'NR > 1 { printf "%sA_%s", (NR > 2 ? ";" : ""), $1 }' \
  "$script_dir/cases.tsv")"
case_count="$(awk 'NR > 1' "$script_dir/cases.tsv" | wc -l)"

cp "$dll" "$package/UpdateRegistry.dll"
cp "$script_dir/parity.wxs" "$package/"
# wixl would rewrite some value prefixes, so the rows go in raw, after the build.
if ! (cd "$package" && wixl -a x86 -o parity.msi parity.wxs &&
      msibuild parity.msi -i Registry.idt &&
      msiinfo export parity.msi Property |
        awk -F'\t' -v keys="$action_keys" -v OFS='\t' \
          '$1 == "ZYB_UPDATE_REG_KEYS" { $2 = keys } { print }' >Property.idt &&
      msibuild parity.msi -i Property.idt); then
  echo "FAIL: could not build the package"
  exit 1
fi
if ! build_regdump "$work_dir"; then echo "FAIL: could not build regdump.exe"; exit 1; fi
pass "package with $case_count cases built: $package/parity.msi"

if ! start_prefix "$work_dir/prefix"; then
  echo "FAIL: could not make the Wine prefix $work_dir/prefix"
  exit 1
fi

install_log="$work_dir/install.log"
msiexec_step installed "$package" /i parity.msi /qn /l*v "$install_log" || finish "parity test"
applied="$(log_text "$install_log" |
  grep -c '^PerformRegistryUpdate: UpdateRegistryEntry: Reg_Value Value: ')"
if [ "$applied" -eq "$case_count" ]; then
  pass "PerformRegistryUpdate applied $applied rows"
else
  fail "PerformRegistryUpdate applied $applied rows, expected $case_count"
fi
reports="$(action_lines "$install_log" | grep -E '^(Internal call:|Error:)')"
if [ -z "$reports" ]; then
  pass "no report lines"
else
  fail "report lines in the log:"
  echo "$reports"
fi

dump_key "HKCU\\$INSTALLER_KEY" >"$work_dir/installer.tsv"
dump_key "HKCU\\$ACTIONS_KEY" >"$work_dir/actions.tsv"

# One line per case: case, value text, then type, bytes and readable data from either key.
awk -F'\t' -v OFS='\t' '
  FILENAME == ARGV[1] { installer[$1] = $2 "\t" $3 "\t" $4; next }
  FILENAME == ARGV[2] { actions[$1] = $2 "\t" $3 "\t" $4; next }
  FNR > 1 {
    name = $2 == "" ? "(default)" : $2
    missing = "(missing)\t\t(missing)"
    print $1, $3, (name in installer ? installer[name] : missing),
          (name in actions ? actions[name] : missing)
  }' "$work_dir/installer.tsv" "$work_dir/actions.tsv" "$script_dir/cases.tsv" \
  >"$work_dir/comparison.tsv"

# differences.tsv: case, kind, the action's type, the action's bytes, the reason.
echo
printf '%-14s %-24s %-16s %-34s %-16s %-34s %s\n' case value installer "" actions "" verdict
while IFS= read -r line; do
  IFS=$'\x1f' read -r name value itype ibytes itext atype abytes atext \
    <<<"${line//$'\t'/$'\x1f'}"
  listed="$(awk -F'\t' -v c="$name" '$1 == c { print $3 "\t" $4 }' "$script_dir/differences.tsv")"
  kind="$(awk -F'\t' -v c="$name" '$1 == c { print $2 }' "$script_dir/differences.tsv")"
  if [ "$itype" = "$atype" ] && [ "$ibytes" = "$abytes" ]; then
    if [ -z "$listed" ]; then
      verdict="same"
    else
      verdict="SAME, BUT LISTED AS A DIFFERENCE"
      fail "$name: listed in differences.tsv, but both keys hold the same value"
    fi
  elif [ -z "$listed" ]; then
    verdict="DIFFERENT"
    fail "$name: the installer and the action wrote different values"
  elif [ "$listed" = "$atype"$'\t'"$abytes" ]; then
    verdict="differs ($kind)"
  else
    verdict="DIFFERENT FROM THE LISTED VALUE"
    fail "$name: the action wrote $atype [$abytes], differences.tsv lists [$listed]"
  fi
  printf '%-14s %-24s %-16s %-34s %-16s %-34s %s\n' "$name" "'$value'" "$itype" "$itext" \
    "$atype" "$atext" "$verdict"
done <"$work_dir/comparison.tsv"
echo

msiexec_step uninstalled "$package" /x parity.msi /qn /l*v "$work_dir/uninstall.log"
finish "parity test"
