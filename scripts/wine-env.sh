# Wine settings for the Windows-side tests; source this file, then call wine_prefix_ready.
# Runs headless: no display is needed for msiexec /qn, wineboot or reg.

export WINEDEBUG=-all
# Empty overrides for mscoree and mshtml stop wineboot from offering the Mono and Gecko installers.
export WINEDLLOVERRIDES="mscoree,mshtml="
# A 32-bit custom-action DLL runs in the default 64-bit prefix as well.
export WINEARCH="${WINEARCH:-win64}"
unset DISPLAY WAYLAND_DISPLAY

wine_env_repo_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Makes a Wine prefix in folder $1 (default: build-win32/wine-prefix in the repository) unless
# it is already complete, and exports WINEPREFIX. Give every test run a folder of its own: two
# runs that share a prefix at the same time share one wineserver and one registry.
wine_prefix_ready() {
  local prefix="${1:-$wine_env_repo_root/build-win32/wine-prefix}"
  mkdir -p "$prefix"
  prefix="$(cd "$prefix" && pwd)"
  export WINEPREFIX="$prefix"
  # The marker is written only after wineboot has finished, so an interrupted start is redone.
  if [ -f "$prefix/.prefix-ready" ]; then
    return 0
  fi
  if ! wineboot -i >"$prefix/wineboot.log" 2>&1; then
    echo "wine-env: wineboot -i failed in $prefix (see $prefix/wineboot.log)" >&2
    return 1
  fi
  wineserver -w
  touch "$prefix/.prefix-ready"
}

# Stops the wineserver of the current prefix and waits until it has gone.
wine_prefix_stop() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

# Runs `wine msiexec` with the arguments given, in folder $1, and waits until every process of
# the prefix has ended: under load `wine msiexec` has come back before its log was complete.
# Returns msiexec's exit code (Wine hands back only its low 8 bits: 1603 arrives as 67).
wine_msiexec() {
  local dir="$1" rc=0
  shift
  (cd "$dir" && timeout 300 wine msiexec "$@") || rc=$?
  timeout 120 wineserver -w || true
  return "$rc"
}

# True when the msiexec log $1 says the whole install (or removal) succeeded: "Action ended
# <time>: INSTALL. Return value 1." and no other result for INSTALL. The file is read directly:
# a pipe into grep -q stops its writer early, which pipefail counts as a failure.
msi_log_succeeded() {
  [ -f "$1" ] &&
    grep -Eq $'^Action ended [0-9:]+: INSTALL\\. Return value 1\\.\r?$' "$1" &&
    ! grep -Eq '^Action ended [0-9:]+: INSTALL\. Return value [^1]' "$1"
}
