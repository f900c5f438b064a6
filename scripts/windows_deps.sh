#!/usr/bin/env bash
# libxml2 for Windows x64, for korrand.exe: built with MinGW-w64 from Debian's own source package
# of the very version the Linux korrand uses (libxml2-dev's), against zlib for MinGW from Debian's
# libz-mingw-w64-dev, as a static library. Prints the prefix that holds it.
#
# The source comes through `apt-get source`, pointed by -o Dir::... options at a private deb-src
# list and private package lists under the cache, so the machine's apt configuration and lists
# stay as they are. The result is cached in KORRAND_CACHE (default /var/cache/korrand), keyed by
# the source version and the compiler's, so a machine builds it once (a few minutes on 2 cores)
# and every later run, from any clone, takes it as it is.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${KORRAND_JOBS:-2}
triple=x86_64-w64-mingw32
say() { echo "windows_deps: $*" >&2; }

version=$(dpkg-query -W -f='${source:Version}' libxml2-dev)
compiler=$("$triple-gcc-posix" -dumpfullversion)
cache=${KORRAND_CACHE:-/var/cache/korrand}/mingw-w64-x86_64
prefix=$cache/libxml2-$version-gcc$compiler
if [ -f "$prefix/done" ]; then
  say "libxml2 $version for Windows: cached in $prefix"
  echo "$prefix"
  exit 0
fi

say "libxml2 $version for Windows: not cached yet; fetching Debian's source"
apt=$cache/apt
work=$cache/work
rm -rf "$work" "$prefix" "$apt/sources.list.d"
mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/sources.list.d" "$work"
# The deb-src twins of the machine's own Debian entries (one-line and deb822 forms alike).
: >"$apt/sources.list"
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] && sed -n 's/^deb \(.*debian.*\)$/deb-src \1/p' "$f" >>"$apt/sources.list"
done
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] && awk 'BEGIN {RS = ""; ORS = "\n\n"} /URIs:[^\n]*debian/ {
    sub(/Types:[^\n]*/, "Types: deb-src"); print}' "$f" >"$apt/sources.list.d/$(basename "$f")"
done
options=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/sources.list.d"
  -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o "APT::Sandbox::User=root")
apt-get "${options[@]}" update -qq
# The archive keeps only the newest source of a suite: when the installed version has been
# superseded, the newest one is built (and said so), under the same cache key.
built=$version
if ! (cd "$work" && apt-get "${options[@]}" source -qq "libxml2=$version" >/dev/null 2>&1); then
  (cd "$work" && apt-get "${options[@]}" source -qq libxml2 >/dev/null)
  built=$(cd "$work" && ls libxml2_*.dsc | sed 's/^libxml2_\(.*\)\.dsc$/\1/')
  say "libxml2 $version's source is no longer in the archive; building $built instead"
fi
source=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libxml2-*' | head -1)
[ -n "$source" ] || { say "apt-get source unpacked no libxml2"; exit 1; }

say "building libxml2 $built with $triple-gcc-posix $compiler (static, zlib, no iconv)"
# Without iconv (none exists for MinGW in Debian) libxml2 reads UTF-8, UTF-16, ASCII and
# ISO-8859-1 to -16 itself; no network access, modules or Python are needed by korrand.
cmake -S "$source" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
  -DLIBXML2_WITH_ICONV=OFF -DLIBXML2_WITH_LZMA=OFF -DLIBXML2_WITH_ZLIB=ON -DZLIB_USE_STATIC_LIBS=ON \
  -DLIBXML2_WITH_PYTHON=OFF -DLIBXML2_WITH_PROGRAMS=OFF -DLIBXML2_WITH_TESTS=OFF \
  -DLIBXML2_WITH_HTTP=OFF -DLIBXML2_WITH_FTP=OFF -DLIBXML2_WITH_MODULES=OFF >/dev/null
cmake --build "$work/build" -j "$jobs" >/dev/null
cmake --install "$work/build" >/dev/null
rm -rf "$prefix/share" "$work"
echo "libxml2 $built, Debian source package, for $triple with gcc $compiler" >"$prefix/done"
say "libxml2 $version for Windows: built into $prefix"
echo "$prefix"
