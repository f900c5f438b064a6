#!/usr/bin/env bash
# Builds the libFuzzer targets (clang 14, AddressSanitizer + UndefinedBehaviorSanitizer) in
# build-fuzz and runs each for SECONDS (default 60) on a fresh copy of its seed corpus
# (fuzz/corpus-<target>/, not tracked). A crash, sanitizer report, leak, timeout or
# out-of-memory is written to build-fuzz/findings/ and fails the script, which then prints the
# finding's path and the one-line command that runs it again.
#
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=${KORRAND_FUZZ_BUILD_DIR:-build-fuzz}
jobs=${KORRAND_JOBS:-$(nproc)}
targets=(fuzz_modify fuzz_readers)

# KORRAND_LEAN_DEBUG=1 (CI): line tables only, which is what the reports use.
lean_debug=()
[ "${KORRAND_LEAN_DEBUG:-0}" = 1 ] && lean_debug=(-DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG")
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${lean_debug[@]}" \
  -DKORRAND_BUILD_FUZZ=ON -DKORRAND_BUILD_TESTS=OFF -DKORRAND_SANITIZE=address,undefined >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
findings="$build/findings"
mkdir -p "$findings"
# The targets run side by side, one per core (libFuzzer runs on one thread), then each is
# reported in turn.
pids=()
for target in "${targets[@]}"; do
  work="fuzz/corpus-$target"
  rm -rf "$work"
  cp -r "fuzz/corpus/$target" "$work"
  # Inputs up to 16 KiB; an input that runs longer than 25 s is a finding.
  "$build/fuzz/$target" -max_total_time="$seconds" -max_len=16384 -timeout=25 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/$target-" \
    "$work" >"$build/$target.log" 2>&1 &
  pids+=($!)
done
status=0
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  work="fuzz/corpus-$target"
  log="$build/$target.log"
  if wait "${pids[$i]}"; then
    result=ok
  else
    result=FAILED
    status=1
    grep -E 'ERROR|SUMMARY|check failed|fuzz_readers:|Test unit written' "$log" | head -20 >&2 || true
    # Each finding by its path, with the command that runs it alone again (from the repository).
    found=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log")
    for input in $found; do
      echo "fuzz: $target finding: $input" >&2
      echo "fuzz: reproduce with: $build/fuzz/$target $input" >&2
    done
    [ -n "$found" ] || echo "fuzz: $target failed without writing an input; see $log" >&2
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  slowest=$(sed -n 's/^stat::slowest_unit_time_sec: *//p' "$log" | tail -1)
  corpus=$(ls "$work" | wc -l)
  echo "fuzz: $target $result: ${runs:-?} runs in ${seconds} s, corpus $corpus inputs," \
       "slowest ${slowest:-?} s (log $log)"
done
exit $status
