// What differs by platform in the plug-in's sources: how the one exported symbol is marked, and
// the macOS x86-64 build's arithmetic.
#ifndef KORRAND_PLATFORM_H
#define KORRAND_PLATFORM_H

#if defined(_WIN32)
#define KORRAND_EXPORT __declspec(dllexport)
#else
#define KORRAND_EXPORT __attribute__((visibility("default")))
#endif

// The macOS x86-64 build forms three products in another order (the jitter displacement, the
// sample position, the generator's signed draw) and its sort treats NaN as equal to anything;
// each step that differs says so where it is made. Selected by the platform, or elsewhere by
// the CMake option KORRAND_MACOS_VARIANT, so that the whole suite can run against it.
#if defined(__APPLE__) || defined(KORRAND_MACOS_VARIANT)
#define KORRAND_MACOS_ARITHMETIC 1
#else
#define KORRAND_MACOS_ARITHMETIC 0
#endif

#endif
