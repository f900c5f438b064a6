#!/usr/bin/env bash
# Builds everything and runs the whole test suite. This is the command CI runs.
#
# First the C and C++ sources are checked against .clang-format (scripts/check_format.sh).
# After the normal build and tests come the Windows build (scripts/windows.sh: the plug-in,
# korrand.exe, the Blender bridge and the tests cross-built with MinGW-w64, run under Wine and
# compared with Linux), the macOS stages and the robustness stages, each in a build folder of its
# own:
#   build-macos-arith  the plug-in's suite (without the hosts) built with KORRAND_MACOS_VARIANT:
#               the macOS x86-64 build's arithmetic and registration record, here on Linux
#   build-macos the plug-in cross-built as a Mach-O library, checked, and run through the Mach-O
#               loader of tests/macho/ in build-macos-arith (scripts/macos.sh)
#   build-asan  the suite with AddressSanitizer + UndefinedBehaviorSanitizer (gcc), all but the
#               tests in headless Blender, which cannot load a sanitized bridge, and Inkscape
#   build-tsan  the concurrency tests (plug-in, Blender bridge) and korrand on a map with
#               ThreadSanitizer (gcc)
#   build-fuzz  each libFuzzer target for KORRAND_FUZZ_SECONDS (default 60) (clang, scripts/fuzz.sh)
# They run when KORRAND_CI_SANITIZERS=1, which is the default when CI=true; set
# KORRAND_CI_SANITIZERS=0 to skip them, or KORRAND_FUZZ_SECONDS=0 to skip only the fuzzing.
# Any sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh

jobs=${KORRAND_JOBS:-$(nproc)}
build=${KORRAND_BUILD_DIR:-build}
stage() { echo "== $1 ($(date +%T), ${SECONDS}s so far)"; }
# A test that hangs fails after this many seconds instead of stalling the run.
timeout=${KORRAND_TEST_TIMEOUT:-600}

stage "format: C and C++ sources follow .clang-format"
bash scripts/check_format.sh

stage "build and test"
# The benchmarks are built too; ctest runs each of their cases once on tiny inputs.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORRAND_BUILD_TESTS=ON \
  -DKORRAND_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --timeout "$timeout" -j "$jobs" --output-on-failure

if [ "${CI:-false}" = true ]; then sanitizers=${KORRAND_CI_SANITIZERS:-1}; else sanitizers=${KORRAND_CI_SANITIZERS:-0}; fi
if [ "$sanitizers" != 1 ]; then
  echo "Windows, macOS, sanitizer and fuzzing stages skipped (KORRAND_CI_SANITIZERS=1 runs them)"
  exit 0
fi

# The checking builds keep line tables only (file and line in every report and backtrace): full
# debugging information doubled their compile time. The same code is generated either way.
lean_debug=(-DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG")
export KORRAND_LEAN_DEBUG=1

# The symbolizer turns sanitizer and fuzzer reports into file names and lines.
KORRAND_SANITIZER_TOOLS=1 bash scripts/bootstrap.sh
ASAN_SYMBOLIZER_PATH=$(command -v llvm-symbolizer)
export ASAN_SYMBOLIZER_PATH

stage "Windows x64: plug-in, korrand.exe and bridge cross-built; tests under Wine; dashes, korrand and the Inkscape script compared with Linux"
bash scripts/windows.sh

stage "macOS x86-64 variant on Linux: the plug-in's suite with its arithmetic and record"
# The hosts (korrand, the Blender add-on and its bridge) and the benchmarks do no arithmetic of
# their own: they are left out of this build. The dashes themselves are compared to the bit in
# the next stage.
cmake -S . -B build-macos-arith -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${lean_debug[@]}" \
  -DKORRAND_BUILD_TESTS=ON -DKORRAND_BUILD_BENCH=OFF -DKORRAND_BUILD_BLENDER=OFF \
  -DKORRAND_BUILD_CLI=OFF -DKORRAND_MACOS_VARIANT=ON >/dev/null
cmake --build build-macos-arith -j "$jobs"
ctest --test-dir build-macos-arith --timeout "$timeout" -j "$jobs" --output-on-failure

stage "macOS x86-64: the plug-in cross-built as a Mach-O library, checked, and run through the Mach-O loader"
bash scripts/macos.sh

# gcc's sanitizer runtimes are shared libraries, so the plug-in keeps --no-undefined. The same
# options apply while building: test discovery runs the executables.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

stage "AddressSanitizer + UndefinedBehaviorSanitizer: the whole suite but the Blender and Inkscape tests"
echo "(the blender_* tests are left out here: Blender cannot load a bridge built with a sanitizer runtime; bridge_test runs."
echo " The inkscape_* tests too: they check the extension's Python, which no sanitizer sees; korrand itself runs in cli_test)"
CC=gcc CXX=g++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${lean_debug[@]}" \
  -DKORRAND_BUILD_TESTS=ON -DKORRAND_BUILD_BENCH=ON -DKORRAND_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --timeout "$timeout" -j "$jobs" --output-on-failure

stage "ThreadSanitizer: concurrency test, and korrand on a map"
CC=gcc CXX=g++ cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${lean_debug[@]}" \
  -DKORRAND_BUILD_TESTS=ON -DKORRAND_BUILD_CLI=ON -DKORRAND_SANITIZE=thread >/dev/null
cmake --build build-tsan -j "$jobs" --target concurrency_test bridge_test korrand
# Some kernels randomise mmap further than ThreadSanitizer's fixed layout allows.
tsan_run=()
if command -v setarch >/dev/null && setarch "$(uname -m)" -R true 2>/dev/null; then
  tsan_run=(setarch "$(uname -m)" -R)
fi
"${tsan_run[@]}" ctest --test-dir build-tsan --timeout "$timeout" -R '^(Concurrency|BridgeConcurrency)\.' \
  --output-on-failure
# korrand reads, dashes and writes a large drawing on threads: a map of 2,000 paths (as
# bench/svg_map.py writes them), in three modes; a race report fails the stage.
python3 -c 'import sys; sys.path.insert(0, "bench"); import svg_map
svg_map.write_map("build-tsan/map.svg", 2000)'
for mode in "" --preview --plotter; do
  TSAN_OPTIONS=halt_on_error=1 "${tsan_run[@]}" build-tsan/korrand dash build-tsan/map.svg $mode \
    -o build-tsan/map-dashed.svg -q
done
echo "korrand on a map of 2,000 paths under ThreadSanitizer: 3 modes, no report"

if [ "${KORRAND_FUZZ_SECONDS:-60}" != 0 ]; then
  stage "libFuzzer: ${KORRAND_FUZZ_SECONDS:-60} s per target"
  bash scripts/fuzz.sh "${KORRAND_FUZZ_SECONDS:-60}"
fi
stage "all stages passed"
