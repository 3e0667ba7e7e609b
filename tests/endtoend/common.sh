# Shared by the end-to-end tests (source it): results, the checks that skip a test, the Wine
# prefix, the registry dump tool and the lines the actions write to the installer log.

readonly SKIP_CODE=77
endtoend_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo_root="$(cd "$endtoend_dir/../.." && pwd)"
# The actions' own lines, and the report lines the library writes for a failed call (a report
# line holds the system's text, which ends in a line break: its rest starts with "), call: ").
readonly ACTION_LINE_PATTERN='^(PerformRegistryUpdate: |GetTotalARPSize: |Update ARP Size: |Internal call:|Error:|\), call: )'

failures=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Exits with the skip code when Wine is missing, and fails when a packaging tool is.
require_tools() {
  local tool
  for tool in wine wineboot wineserver; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
      exit "$SKIP_CODE"
    fi
  done
  for tool in wixl msibuild msiinfo i686-w64-mingw32-g++-win32; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      echo "FAIL: $tool is not installed (scripts/install-deps.sh installs it)"
      exit 1
    fi
  done
}

# Compiles the registry dump tool into $1/regdump.exe.
build_regdump() {
  i686-w64-mingw32-g++-win32 -std=c++17 -Wall -Wextra -Werror -O2 -municode -static -s \
    -o "$1/regdump.exe" "$endtoend_dir/regdump.cpp"
}

# Makes a fresh Wine prefix in $1 (an earlier install left in it would turn the install into a
# maintenance run) and exports WINEPREFIX; stops its wineserver when the script exits.
start_prefix() {
  # shellcheck source=../../scripts/wine-env.sh
  source "$repo_root/scripts/wine-env.sh"
  rm -rf "$1"
  export WINEPREFIX="$1"
  trap 'wine_prefix_stop' EXIT
  wine_prefix_ready "$1"
}

# Lines of registry key $1 as regdump prints them, sorted by value name.
dump_key() {
  wine "$work_dir/regdump.exe" "$1" | tr -d '\r' | LC_ALL=C sort
}

# The log $1 without carriage returns (Wine writes LF line ends, Windows CRLF).
log_text() { tr -d '\r' <"$1"; }

# The actions' lines and report lines of the log $1, in order.
action_lines() { log_text "$1" | grep -E "$ACTION_LINE_PATTERN" || true; }

# A passed run removes its prefix (about 1.3 GB); a failed run keeps it for a look.
finish() {
  if [ "$failures" -eq 0 ]; then
    wine_prefix_stop
    rm -rf "$WINEPREFIX"
    echo "$1: PASS"
    exit 0
  fi
  echo "$1: FAIL ($failures check(s) failed; files in $work_dir)"
  exit 1
}

# What every end-to-end test does first: reads its arguments ([--work-dir DIR] DLL; $2 is the
# line of the calling script that shows its usage), checks the tools and the DLL, and sets
# $dll, $work_dir (default: a new temp folder named after $1) and an empty $package folder.
setup_test() {
  local stem="$1" usage_line="$2"
  shift 2
  usage() { sed -n "${usage_line}p" "$0" | sed 's/^# //' >&2; exit 2; }
  work_dir=""
  dll=""
  while [ $# -gt 0 ]; do
    case "$1" in
      --work-dir) [ $# -ge 2 ] || usage; work_dir="$2"; shift 2 ;;
      -*) usage ;;
      *) dll="$1"; shift ;;
    esac
  done
  [ -n "$dll" ] || usage
  require_tools
  if [ ! -f "$dll" ]; then echo "FAIL: no DLL at $dll"; exit 1; fi
  if [ -z "$work_dir" ]; then work_dir="$(mktemp -d "${TMPDIR:-/tmp}/$stem.XXXXXX")"; fi
  mkdir -p "$work_dir"
  work_dir="$(cd "$work_dir" && pwd)"
  package="$work_dir/package"
  rm -rf "$package"
  mkdir -p "$package"
}

# Runs `wine msiexec` in folder $2 with the arguments after it (the last one the log) and
# passes the step named $1 when msiexec exits 0 and its log says the whole run succeeded.
msiexec_step() {
  local step="$1" dir="$2" rc=0
  shift 2
  local log="${!#}"
  wine_msiexec "$dir" "$@" || rc=$?
  if [ "$rc" -eq 0 ] && msi_log_succeeded "$log"; then
    pass "$step"
    return 0
  fi
  fail "$step: msiexec exit code $rc, or its log does not say it succeeded"
  return 1
}
