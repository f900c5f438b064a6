#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the examples need, when missing.
# Idempotent and quiet when everything is already there. Run as root on Debian 12.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang-14 libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libtiff-dev libtiff-tools nlohmann-json3-dev libcli11-dev libsvgpp-dev libboost-dev libxml2-dev
  librsvg2-bin python3 clang-format blender
  # Inkscape with what its Python extensions import (inkex), and Xvfb to run it headless
  inkscape python3-lxml python3-cssselect python3-numpy xvfb xauth
)
if [ "${KORRAND_WINDOWS:-0}" = 1 ]; then
  packages+=(g++-mingw-w64-x86-64-posix wine64)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" != 0 ]; then
  echo "bootstrap: missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
echo "bootstrap: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
