#!/usr/bin/env bash
# Installs the example package (examples/UpdateRegistryExample.wxs) under Wine in a fresh
# prefix, checks every line its three actions write to the install log and the exact registry
# values (types and bytes) they leave, then uninstalls it.
# Usage: example-test.sh [--work-dir DIR] path/to/UpdateRegistry.dll
# Exit status: 0 passed, 1 failed, 77 skipped (Wine missing).
set -uo pipefail

script_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=common.sh
source "$script_dir/common.sh"

readonly KEY='HKLM\Software\UpdateRegistryExample'
readonly PREVIOUS_SIZE=250

setup_test ur-example 5 "$@"

# Bytes of a REG_SZ value holding the ASCII text $1: UTF-16LE and the terminator.
utf16_bytes() {
  local text="$1" out="" piece i
  for ((i = 0; i < ${#text}; i++)); do
    printf -v piece '%02X 00 ' "'${text:i:1}"
    out+="$piece"
  done
  echo "${out}00 00"
}
# The value of property $2 as the installer lists it at the end of log $1.
logged_property() {
  log_text "$1" | sed -n "s/^Property(S): $2 = //p" | tail -n 1
}

cp "$dll" "$package/UpdateRegistry.dll"
cp "$repo_root/examples/UpdateRegistryExample.wxs" "$repo_root/examples/readme.txt" "$package/"
if ! (cd "$package" && wixl -a x86 -o UpdateRegistryExample.msi UpdateRegistryExample.wxs); then
  echo "FAIL: wixl could not build the example package"
  exit 1
fi
if ! build_regdump "$work_dir"; then echo "FAIL: could not build regdump.exe"; exit 1; fi
pass "example package built: $package/UpdateRegistryExample.msi"

# The example with its action block replaced by the include file must give the same tables.
cp "$repo_root/examples/UpdateRegistryActions.wxi" "$package/"
awk '/<!-- The actions:/ { skip = 1; print "    <?include UpdateRegistryActions.wxi?>" }
     !skip { print }
     /<\/InstallExecuteSequence>/ { skip = 0 }' "$package/UpdateRegistryExample.wxs" \
  >"$package/IncludeVariant.wxs"
# Exporting the Binary table writes its streams as files into a Binary folder: run it in one.
tables_of() {
  mkdir -p "$package/tables"
  (cd "$package/tables" &&
   for table in Binary CustomAction InstallExecuteSequence; do msiinfo export "$1" "$table"; done)
}
if (cd "$package" && wixl -a x86 -o IncludeVariant.msi IncludeVariant.wxs) &&
   grep -q 'include UpdateRegistryActions.wxi' "$package/IncludeVariant.wxs" &&
   [ "$(tables_of "$package/IncludeVariant.msi")" = \
     "$(tables_of "$package/UpdateRegistryExample.msi")" ]; then
  pass "examples/UpdateRegistryActions.wxi declares the same actions and schedule"
else
  fail "examples/UpdateRegistryActions.wxi and the example package disagree"
fi

if ! start_prefix "$work_dir/prefix"; then
  echo "FAIL: could not make the Wine prefix $work_dir/prefix"
  exit 1
fi

install_log="$work_dir/install.log"
msiexec_step installed "$package" /i UpdateRegistryExample.msi /qn /l*v "$install_log" ||
  finish "example test"

# TOTAL_COST as the installer had it when the action read it (Wine leaves it undefined), and
# the folder the installer chose: the expected lines are built from both.
sum_line='^GetTotalARPSize: ARP previous size (property "ZYB_ARP_PREVSIZE") =  #[0-9]*; '
sum_line+='total cost (property "TOTAL_COST") =  '
total="$(log_text "$install_log" | sed -n "s/$sum_line//p")"
if ! [[ "$total" =~ ^-?[0-9]{0,9}$ ]]; then
  fail "TOTAL_COST read by the action is not a small decimal number: '$total'"
  total=0
fi
new_total=$(( (${total:-0} + PREVIOUS_SIZE) & 0xFFFFFFFF ))
install_dir="$(logged_property "$install_log" INSTALLDIR)"
if [ -n "$install_dir" ]; then pass "INSTALLDIR is $install_dir"; else fail "no INSTALLDIR in the log"; fi

entry='UpdateRegistryEntry: '
key_line="Reg_Key Name: \"Software\\UpdateRegistryExample\\\""
cat >"$work_dir/expected-lines.txt" <<LINES
GetTotalARPSize: ARP previous size (property "ZYB_ARP_PREVSIZE") =  #$PREVIOUS_SIZE; total cost (property "TOTAL_COST") =  $total
GetTotalARPSize: New TOTAL_COST value = $new_total
GetTotalARPSize: Size calculation complete
PerformRegistryUpdate: Start registry update ... 
PerformRegistryUpdate: query: SELECT * FROM Registry WHERE Registry='ExampleVersion'
PerformRegistryUpdate: ${entry}root: HKEY_LOCAL_MACHINE 
PerformRegistryUpdate: ${entry}$key_line
PerformRegistryUpdate: ${entry}Reg_Value Name: "Version"
PerformRegistryUpdate: ${entry}Reg_Value Value: "1.2.3"
PerformRegistryUpdate: query: SELECT * FROM Registry WHERE Registry='ExampleInstallDir'
PerformRegistryUpdate: ${entry}root: HKEY_LOCAL_MACHINE 
PerformRegistryUpdate: ${entry}$key_line
PerformRegistryUpdate: ${entry}Reg_Value Name: "InstallDir"
PerformRegistryUpdate: ${entry}Reg_Value Value: "$install_dir"
PerformRegistryUpdate: query: SELECT * FROM Registry WHERE Registry='ExampleBuildNumber'
PerformRegistryUpdate: ${entry}root: HKEY_LOCAL_MACHINE 
PerformRegistryUpdate: ${entry}$key_line
PerformRegistryUpdate: ${entry}Reg_Value Name: "BuildNumber"
PerformRegistryUpdate: ${entry}Reg_Value Value: "#42"
PerformRegistryUpdate: ${entry}Value "42" will be stored as an integer (REG_DWORD)
PerformRegistryUpdate: Registry update complete! 
Update ARP Size: query: SELECT * FROM Registry WHERE Registry='ExampleEstimatedSize'
Update ARP Size: ${entry}root: HKEY_LOCAL_MACHINE 
Update ARP Size: ${entry}$key_line
Update ARP Size: ${entry}Reg_Value Name: "EstimatedSize"
Update ARP Size: ${entry}Reg_Value Value: "#2048"
Update ARP Size: ${entry}New value "2048" will be added to previous registry value "1024" and will be stored as an integer (REG_DWORD)
Update ARP Size: Complete ARP size updating
LINES
action_lines "$install_log" >"$work_dir/action-lines.txt"
if diff -u "$work_dir/expected-lines.txt" "$work_dir/action-lines.txt"; then
  pass "the actions logged exactly the expected $(wc -l <"$work_dir/expected-lines.txt") lines"
else
  fail "the actions' lines differ from the expected ones (diff above: - expected, + logged)"
fi
final_total="$(logged_property "$install_log" TOTAL_COST)"
if [ "$final_total" = "$new_total" ]; then
  pass "the installer ends with TOTAL_COST = $new_total"
else
  fail "the installer ends with TOTAL_COST = '$final_total', expected $new_total"
fi

# The key after the install: the installer's own two values, UpdateARPSize's sum in place of
# the installer's EstimatedSize, and PerformRegistryUpdate's three values.
check_key() {
  local when="$1" expected="$2" actual
  actual="$(dump_key "$KEY" | cut -f1-3)"
  if [ "$actual" = "$expected" ]; then
    pass "$when: $KEY holds exactly the expected values"
  else
    fail "$when: $KEY differs from the expected values (- expected, + found)"
    diff -u <(echo "$expected") <(echo "$actual")
  fi
}
actions_values="$(printf '%s\t%s\t%s\n' \
  BuildNumber REG_DWORD '2A 00 00 00' \
  InstallDir REG_SZ "$(utf16_bytes "$install_dir")" \
  Version REG_SZ "$(utf16_bytes 1.2.3)")"
check_key "after the install" "$(printf '%s\n%s\t%s\t%s\n%s\t%s\t%s\n' "$actions_values" \
  EstimatedSize REG_DWORD '00 0C 00 00' \
  InstalledBy REG_SZ "$(utf16_bytes 'UpdateRegistry example package')" | LC_ALL=C sort)"

uninstall_log="$work_dir/uninstall.log"
msiexec_step uninstalled "$package" /x UpdateRegistryExample.msi /qn /l*v "$uninstall_log"
if [ -z "$(action_lines "$uninstall_log")" ]; then
  pass "no action ran during the uninstall (condition NOT REMOVE)"
else
  fail "actions logged lines during the uninstall"
fi
# The installer removes only the values of its own rows; what the actions wrote stays.
check_key "after the uninstall" "$actions_values"

finish "example test"
