#!/bin/sh
# Runs one case of test_extension.py; exit 77 (skipped) when KORRAND_INKSCAPE=0.
# Usage: run_inkscape.sh CASE   (KORRAND_BUILD_DIR names the build tree)
if [ "${KORRAND_INKSCAPE:-1}" = 0 ]; then
  echo "skipped: KORRAND_INKSCAPE=0 (the tests in Inkscape do not run)"
  exit 77
fi
for tool in inkscape xvfb-run; do
  if ! command -v $tool >/dev/null 2>&1; then
    echo "$tool is not installed (scripts/bootstrap.sh installs it, or set KORRAND_INKSCAPE=0)" >&2
    exit 1
  fi
done
# Inkscape runs an extension with the python3 it finds first; Debian's has inkex's modules.
PATH=/usr/bin:/bin:$PATH
export PATH
exec python3 "$(dirname "$0")/test_extension.py" "$@"
