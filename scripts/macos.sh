#!/usr/bin/env bash
# The macOS x86-64 plug-in, cross-built here without an Apple SDK and run here: builds
# KorrandModifier.dylib in build-macos/ with Debian's clang and lld's Mach-O linker
# (cmake/toolchains/macos-x86_64.cmake, the plug-in only) and checks the plug-in folder: a Mach-O
# x86-64 dynamic library for macOS 10.13 that exports only _c4d_main, imports only from the
# system library (and only what its stub lists), built with the macOS arithmetic and record, with
# res/ beside it. Then it runs the library through the Mach-O loader of tests/macho/ (in the
# macOS variant's build, build-macos-arith/): the plug-in suite through c4d_main and the
# 1152-byte record, and the dashes of tests/dash_dump.cpp, which must be the variant's to the bit
# and, in the jittered cases, differ from the Linux build's. It is not a Mac and not macOS's own
# loader. Run as root on Debian 12 (installs lld and LLVM's tools and headers).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
started=$(date +%s)

KORRAND_MACOS=1 bash scripts/bootstrap.sh

jobs=${KORRAND_JOBS:-2}
linux=${KORRAND_BUILD_DIR:-build}
variant=build-macos-arith
build=build-macos
folder=$build/plugins/KorrandModifier
lib=$folder/KorrandModifier.dylib
tools=/usr/lib/llvm-14/bin
sdkless=cmake/macos-sdkless
step() { echo "== $* ($(($(date +%s) - started)) s)"; }
fail() {
  echo "macos: $*" >&2
  exit 1
}

step "Cross build of the plug-in"
# clang adds the folders of LIBRARY_PATH to every link; none of them holds anything for macOS.
unset LIBRARY_PATH
# The toolchain is read only when the folder is first configured.
toolchain=()
[ -f "$build/CMakeCache.txt" ] ||
  toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/macos-x86_64.cmake)
cmake -S . -B "$build" -G Ninja "${toolchain[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKORRAND_BUILD_HOST_MODEL=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target KorrandModifier

step "$lib: kind, exports, imports"
read -r magic cpu _ _ filetype _ < <("$tools/llvm-objdump" --macho --private-header "$lib" |
  awk '$1 ~ /^MH_MAGIC/')
echo "header: $magic $cpu $filetype"
[ "$magic $cpu $filetype" = "MH_MAGIC_64 X86_64 DYLIB" ] ||
  fail "not a 64-bit x86-64 Mach-O dynamic library"
commands=$("$tools/llvm-objdump" --macho --private-headers "$lib")
grep -A2 -E 'cmd (LC_VERSION_MIN_MACOSX|LC_BUILD_VERSION)$' <<<"$commands" | grep -qE \
  '(version|minos) 10\.13$' || fail "not built for macOS 10.13"

exports=$("$tools/llvm-nm" --extern-only --defined-only "$lib" | awk '{print $3}')
echo "exports: $exports"
[ "$exports" = "_c4d_main" ] || fail "exports other symbols than _c4d_main"
trie=$("$tools/llvm-objdump" --macho --exports-trie "$lib" | awk '/^0x/ {print $2}')
[ "$trie" = "_c4d_main" ] || fail "the export trie holds other symbols than _c4d_main: $trie"

libraries=$(awk '/cmd LC_(LOAD|LOAD_WEAK|REEXPORT|LAZY_LOAD|LOAD_UPWARD)_DYLIB$/ {getline;
  getline; print $2}' <<<"$commands")
echo "libraries: $libraries"
[ "$libraries" = "/usr/lib/libSystem.B.dylib" ] || fail "links other libraries than libSystem"
imports=$("$tools/llvm-nm" --undefined-only "$lib" | awk '{print $NF}' | sort)
echo "imports:" $imports
binds=$("$tools/llvm-objdump" --macho --bind --lazy-bind --weak-bind "$lib")
from=$(awk '/^__/ {print $(NF - 1)}' <<<"$binds" | sort -u)
[ "$from" = "libSystem" ] || fail "binds symbols from other libraries than libSystem: $from"
listed=$(grep -oE '\b_{1,3}[A-Za-z_][A-Za-z0-9_]*\b|\bdyld_stub_binder\b' <(
  sed -n '/symbols:/,/\]/p' "$sdkless/libSystem.tbd") | sort)
[ "$imports" = "$listed" ] || fail "imports differ from the symbols the stub lists: $(
  comm -3 <(echo "$imports") <(echo "$listed") | tr -s ' \t\n' ' ')"

step "The macOS arithmetic and record, as the cross compiler sees the sources"
seen=$(printf '#include "platform.h"\n#include "host_abi.h"\nKORRAND_MACOS_ARITHMETIC HOST_OBJECT_RECORD_SIZE HOST_OPERATION_ENTRY_SIZE\n' |
  clang++-14 --target=x86_64-apple-macos10.13 -nostdlibinc -isystem "$sdkless/include" \
    -Isource -Ihost -E -P -x c++ - | tail -1)
echo "arithmetic, record bytes, entry bytes: $seen"
[ "$seen" = "1 1152 16" ] || fail "the cross build does not select the macOS variant"

step "$folder: resources beside the library"
diff -r res "$folder/res" || fail "res/ in the plug-in folder differs from the tree's"
ls "$folder"

step "The macOS variant built here, with the Mach-O loader (build-macos-arith/)"
cmake -S . -B "$variant" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORRAND_BUILD_TESTS=ON \
  -DKORRAND_BUILD_BLENDER=OFF -DKORRAND_BUILD_CLI=OFF -DKORRAND_BUILD_BENCH=OFF \
  -DKORRAND_MACOS_VARIANT=ON \
  -DKORRAND_MACHO_PLUGIN_FOLDER="$root/$folder" >/dev/null
cmake --build "$variant" -j "$jobs" --target macho_test dash_dump

step "The Mach-O library run: the plug-in suite through c4d_main and the record"
ctest --test-dir "$variant" --timeout 300 -R '^macho\.' --output-on-failure

step "Bit comparison of the dashes: the Mach-O library, the variant built here, Linux"
[ -x "$linux/tests/dash_dump" ] || {
  cmake -S . -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$linux" -j "$jobs" --target dash_dump
}
"$variant/tests/dash_dump" --macho "$folder" "$build/dash-macho.txt"
"$variant/tests/dash_dump" "$variant/plugins/KorrandModifier" "$build/dash-variant.txt"
"$linux/tests/dash_dump" "$linux/plugins/KorrandModifier" "$build/dash-linux.txt"
cases=$(grep -c '^case' "$build/dash-macho.txt")
cmp -s "$build/dash-macho.txt" "$build/dash-variant.txt" ||
  fail "the Mach-O library's dashes differ from the variant's: $(diff "$build/dash-macho.txt" \
    "$build/dash-variant.txt" | head -5)"
echo "Mach-O library = macOS variant built here: identical ($cases cases," \
  "$(grep -c '^p' "$build/dash-macho.txt") points, $(wc -c <"$build/dash-macho.txt") bytes)"
# Per case against Linux: the same counts and segment records always, other bits only where the
# jitter's products and signed draw are formed in the macOS order.
differing=$(awk '/^case / {name = $2} FNR == 1 {file++} {key = name SUBSEP FNR}
  file == 1 {line[key] = $0; next}
  (key in line) && line[key] != $0 {print name}
  !(key in line) {print name}' "$build/dash-macho.txt" "$build/dash-linux.txt" | sort -u)
[ "$(grep -v '^p' "$build/dash-macho.txt")" = "$(grep -v '^p' "$build/dash-linux.txt")" ] ||
  fail "the Mach-O library's point or segment counts differ from Linux's"
jittered=$(grep -c 'jitter' <<<"$differing" || true)
echo "Mach-O library against Linux: $(grep -c . <<<"$differing" || true) of $cases cases differ" \
  "in their last bits ($(echo $differing)); counts and segment records identical"
[ "$jittered" -ge 1 ] || fail "no jittered case differs from Linux: the macOS order did not run"
step "done (built, checked and run through the Mach-O loader; not on a Mac)"
