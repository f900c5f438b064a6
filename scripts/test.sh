#!/usr/bin/env bash
# Builds everything and runs the whole test suite. This is the command CI runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh

jobs=${KORRAND_JOBS:-$(nproc)}
build=${KORRAND_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORRAND_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" -j "$jobs" --output-on-failure
