#!/usr/bin/env bash
# Builds the plug-in and the command-line host, then dashes the bundled example drawing into
# out/wave-dashed.svg (and a PNG of it when rsvg-convert is present).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh

build=${KORRAND_BUILD_DIR:-build}
# Same configuration as scripts/test.sh, so the two commands share one build folder.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target korrand KorrandModifier
mkdir -p out
"$build/korrand" dash examples/wave.svg -o out/wave-dashed.svg --count 24 --preview
if command -v rsvg-convert >/dev/null; then
  rsvg-convert -w 800 out/wave-dashed.svg -o out/wave-dashed.png
  echo "wrote out/wave-dashed.svg and out/wave-dashed.png"
else
  echo "wrote out/wave-dashed.svg"
fi
