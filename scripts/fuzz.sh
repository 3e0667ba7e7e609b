#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer) into
# build-fuzz and runs each for the given time, printing the executions per target. Any crash,
# leak or hang stops with a non-zero status; the input is kept under build-fuzz/artifacts/ and
# belongs in tests/hostile_test.cpp as a regular host test once understood.
# Usage: scripts/fuzz.sh [seconds-per-target]
# Environment: FUZZ_TARGETS="row actions" runs only those; FUZZ_JOBS=2 runs two at a time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds="${1:-20}"
jobs="${FUZZ_JOBS:-1}"
build=build-fuzz
cxx=$(command -v clang++ || command -v clang++-14 || true)
if [ -z "$cxx" ]; then
  echo "fuzz: clang++ is not installed (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

generator=()
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
cmake -S . -B "$build" "${generator[@]}" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUR_FUZZ=ON >/dev/null
cmake --build "$build" --parallel 2 --target fuzz_targets >/dev/null

read -r -a targets <<<"${FUZZ_TARGETS:-$(tr ';' ' ' <"$build/fuzz/targets.txt")}"

# One run: a working corpus of its own (seeds stay untouched), findings in artifacts/<name>/.
run_target() {
  local name=$1 corpus="$build/corpus/$name" artifacts="$build/artifacts/$name"
  mkdir -p "$corpus" "$artifacts"
  local log="$artifacts/fuzz.log" status=0
  "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -dict=fuzz/tokens.dict -artifact_prefix="$artifacts/" \
    "$corpus" "fuzz/corpus/$name" >"$log" 2>&1 || status=$?
  local runs rate
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  if [ "$status" -eq 0 ]; then
    printf '%-9s %12s executions in %ss (%s/s), corpus %s inputs\n' \
      "$name" "${runs:-?}" "$seconds" "${rate:-?}" "$(ls "$corpus" | wc -l)"
  else
    printf '%-9s FAILED (status %s) after %s executions; see %s\n' "$name" "$status" \
      "${runs:-?}" "$log"
    grep -E 'check failed|ERROR:|SUMMARY' "$log" | head -5 | sed 's/^/    /'
    ls "$artifacts" | grep -E '^(crash|leak|timeout|oom)-' | sed "s|^|    input: $artifacts/|"
  fi
  return "$status"
}

failed=0
pids=()
names=()
for name in "${targets[@]}"; do
  run_target "$name" &
  pids+=($!)
  names+=("$name")
  if [ "${#pids[@]}" -ge "$jobs" ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done

if [ "$failed" -ne 0 ]; then
  echo "fuzz: a target failed; reproduce with $build/fuzz/fuzz_<name> <input>" >&2
  exit 1
fi
echo "fuzz: ${#targets[@]} targets, ${seconds}s each, no failure"
