#!/usr/bin/env bash
# Builds the plug-in, the command-line host and the Blender and Inkscape add-ons, then dashes the
# bundled example drawing into out/garden-dashed.svg (and PNGs of it and of the original when
# rsvg-convert is present).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh

build=${KORRAND_BUILD_DIR:-build}
# Same configuration as scripts/test.sh, so the two commands share one build folder.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target korrand KorrandModifier blender_addon inkscape_extension
mkdir -p out
# One dash (and one gap) per 3 mm of every stroked outline, measured on the page.
"$build/korrand" dash examples/garden.svg -o out/garden-dashed.svg --period 3mm
if command -v rsvg-convert >/dev/null; then
  rsvg-convert -w 800 examples/garden.svg -o out/garden.png
  rsvg-convert -w 800 out/garden-dashed.svg -o out/garden-dashed.png
  echo "wrote out/garden-dashed.svg, out/garden.png and out/garden-dashed.png"
else
  echo "wrote out/garden-dashed.svg"
fi
