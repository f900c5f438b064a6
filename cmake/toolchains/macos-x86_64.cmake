# Cross-builds the plug-in library for macOS x86-64 on Linux with Debian's clang and lld's Mach-O
# linker (ld64.lld), without an Apple SDK: the few C library declarations the plug-in's sources
# include come from cmake/macos-sdkless/include, and the system library it links against is the
# text stub cmake/macos-sdkless/libSystem.tbd, which lists only the symbols the plug-in imports.
# Only the plug-in is built (configure with -DKORRAND_BUILD_HOST_MODEL=OFF); scripts/macos.sh
# builds it and checks the result.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_OSX_ARCHITECTURES x86_64)
set(CMAKE_OSX_DEPLOYMENT_TARGET 10.13)
set(CMAKE_OSX_SYSROOT "")

set(KORRAND_MACOS_TARGET x86_64-apple-macos10.13)
set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET ${KORRAND_MACOS_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${KORRAND_MACOS_TARGET})

# Debian puts the Mach-O linker and tools in LLVM's own folder.
find_program(KORRAND_LD64_LLD NAMES ld64.lld ld64.lld-14 PATHS /usr/lib/llvm-14/bin REQUIRED)
find_program(CMAKE_INSTALL_NAME_TOOL NAMES llvm-install-name-tool llvm-install-name-tool-14
  PATHS /usr/lib/llvm-14/bin)

set(KORRAND_MACOS_SDKLESS "${CMAKE_CURRENT_LIST_DIR}/../macos-sdkless")
cmake_path(NORMAL_PATH KORRAND_MACOS_SDKLESS)
# No system headers (Linux's must not leak in): clang's own (stdint.h, stddef.h) and the
# declarations of the SDK-less folder only. No C++ library is linked: the plug-in uses none.
set(CMAKE_C_FLAGS_INIT "-nostdlibinc -isystem ${KORRAND_MACOS_SDKLESS}/include")
set(CMAKE_CXX_FLAGS_INIT "-nostdlibinc -isystem ${KORRAND_MACOS_SDKLESS}/include")
# -mlinker-version: tells clang the linker takes -platform_version, as ld64.lld does. The
# compile flags above reach the link line too, where clang would warn that they are unused.
set(CMAKE_SHARED_LINKER_FLAGS_INIT
  "-fuse-ld=${KORRAND_LD64_LLD} -mlinker-version=711 -nostdlib++ -L${KORRAND_MACOS_SDKLESS} \
-Wno-unused-command-line-argument")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${CMAKE_SHARED_LINKER_FLAGS_INIT}")

# Nothing can be linked into an executable here (no start-up files), so compiler checks build
# static libraries.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH "${KORRAND_MACOS_SDKLESS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
