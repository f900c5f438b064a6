#!/bin/sh
# Runs one test script in headless Blender; exit 77 (skipped) when KORRAND_BLENDER=0.
# Usage: run_blender.sh SCRIPT [ARGS...]   (KORRAND_BUILD_DIR names the build tree)
if [ "${KORRAND_BLENDER:-1}" = 0 ]; then
  echo "skipped: KORRAND_BLENDER=0 (the tests in Blender do not run)"
  exit 77
fi
if ! command -v blender >/dev/null 2>&1; then
  echo "blender is not installed (apt-get install blender, or set KORRAND_BLENDER=0)" >&2
  exit 1
fi
script=$1
shift
# --debug-memory: Blender's allocator overwrites what it frees, so data read after undo freed
# it fails at once instead of by chance.
exec blender -b --factory-startup --debug-memory --python-exit-code 1 --python "$script" -- "$@"
