/* The part of <string.h> the plug-in's sources use, for the macOS cross-build without an SDK
   (cmake/toolchains/macos-x86_64.cmake): standard declarations, which libSystem implements. */
#ifndef KORRAND_SDKLESS_STRING_H
#define KORRAND_SDKLESS_STRING_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif
void* memcpy(void* dst, const void* src, size_t n);
void* memmove(void* dst, const void* src, size_t n);
void* memset(void* dst, int c, size_t n);
#ifdef __cplusplus
}
#endif

#endif
