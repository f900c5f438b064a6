#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the examples need, when missing.
# Idempotent and quiet when everything is already there. Run as root on Debian 12.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang-14 libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libtiff-dev libtiff-tools nlohmann-json3-dev libcli11-dev libsvgpp-dev libboost-dev libxml2-dev
  zlib1g-dev libxml2-utils # .svgz files; xmllint beside korrand in the map benchmark
  libjemalloc-dev # korrand's malloc: a large drawing's many small allocations on threads
  librsvg2-bin python3 clang-format blender
  # Inkscape with what its Python extensions import (inkex), and Xvfb to run it headless
  inkscape python3-lxml python3-cssselect python3-numpy xvfb xauth
)
if [ "${KORRAND_WINDOWS:-0}" = 1 ]; then
  packages+=(g++-mingw-w64-x86-64-posix wine64 libz-mingw-w64-dev) # zlib: libxml2 for korrand.exe
fi
if [ "${KORRAND_SANITIZER_TOOLS:-0}" = 1 ]; then
  packages+=(llvm) # llvm-symbolizer: sanitizer and fuzzer reports with file names and lines
fi
if [ "${KORRAND_MACOS:-0}" = 1 ]; then
  # the Mach-O linker, llvm-objdump and llvm-nm; LLVM's Mach-O reader for the loader of tests/macho/
  packages+=(lld-14 llvm-14 llvm-14-dev)
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
export DEBIAN_FRONTEND=noninteractive
echo "bootstrap: missing ${missing[*]}; reading the package lists" >&2
apt-get update -qq
# Say what will be fetched and how much before the download starts, then count the packages as
# they arrive, are unpacked and are set up: a large download (Blender, Wine) and the setting up
# after it each take minutes and should not look like a hang.
uris=$(apt-get install -y -qq --no-install-recommends --print-uris "${missing[@]}" | grep "^'" || true)
count=$(printf '%s\n' "$uris" | grep -c "^'" || true)
size=$(printf '%s\n' "$uris" | awk '{s += $3} END {printf "%.1f MB", s / 1e6}')
# Packages to unpack and set up: the downloads, and any already in apt's cache.
installs=$(apt-get install -s -qq --no-install-recommends "${missing[@]}" | grep -c "^Inst " || true)
echo "bootstrap: installing ${missing[*]}: $count packages to download, $size" >&2
# mawk (Debian's awk) reads a pipe in blocks unless told to read it line by line.
awk=(awk)
if awk -W interactive 'BEGIN {}' </dev/null >/dev/null 2>&1; then awk=(awk -W interactive); fi
if ! apt-get install -y -q --no-install-recommends "${missing[@]}" 2>&1 |
  "${awk[@]}" -v fetched="$count" -v installs="$installs" '
    function say(what, n, total) {
      if (n % 20 == 0 || n == total) {
        printf "bootstrap: %s %d of %d packages\n", what, n, total > "/dev/stderr"
        fflush("/dev/stderr")
      }
    }
    /^Get:/ { say("downloaded", ++got, fetched) }
    /^Unpacking / { say("unpacked", ++unpacked, installs) }
    /^Setting up / { say("set up", ++set, installs) }
    /^Processing triggers for / && !(($4) in triggered) {
      triggered[$4] = 1
      printf "bootstrap: processing triggers for %s\n", $4 > "/dev/stderr"
      fflush("/dev/stderr")
    }
    /^E: / { print > "/dev/stderr" }
    END { printf "bootstrap: %d packages set up\n", set > "/dev/stderr" }'; then
  echo "bootstrap: apt-get install failed" >&2
  exit 1
fi
