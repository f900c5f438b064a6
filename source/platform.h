// How the one exported symbol is marked on each platform.
#ifndef KORRAND_PLATFORM_H
#define KORRAND_PLATFORM_H

#if defined(_WIN32)
#define KORRAND_EXPORT __declspec(dllexport)
#else
#define KORRAND_EXPORT __attribute__((visibility("default")))
#endif

#endif
