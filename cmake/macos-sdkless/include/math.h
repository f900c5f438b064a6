/* The part of <math.h> the plug-in's sources use, for the macOS cross-build without an SDK
   (cmake/toolchains/macos-x86_64.cmake): standard declarations, which libSystem implements.
   The compiler forms all of them inline for this target; none is imported. */
#ifndef KORRAND_SDKLESS_MATH_H
#define KORRAND_SDKLESS_MATH_H

#ifdef __cplusplus
extern "C" {
#endif
double fabs(double x);
double ceil(double x);
double trunc(double x);
double sqrt(double x);
#ifdef __cplusplus
}
#endif

#define isfinite(x) __builtin_isfinite(x)
#define isnan(x) __builtin_isnan(x)

#endif
