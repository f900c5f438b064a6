#!/usr/bin/env bash
# Checks that C and C++ sources follow the tree's .clang-format: the files given, or every
# tracked one. Prints the files that differ and exits 1 when there are any.
#
#   scripts/check_format.sh [FILE...]
set -euo pipefail
cd "$(dirname "$0")/.."

format=${CLANG_FORMAT:-clang-format}
if ! command -v "$format" >/dev/null; then
  echo "check_format: $format not found (apt-get install clang-format)" >&2
  exit 1
fi
if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files '*.c' '*.h' '*.cpp')
fi
bad=()
for f in "${files[@]}"; do
  "$format" --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  printf 'check_format: not formatted (clang-format -i FILE): %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "check_format: ${#files[@]} files formatted"
