/* Read before each of musl's math sources (third_party/musl): their functions get names of their
 * own, so that neither a call of ours nor the C library's own sin, cos, ... can reach the other's,
 * and the compiler does not take them for its built-ins (it would fold constants with a
 * different rounding). The C library's declarations come first, under their own names: glibc's
 * <math.h> declares a __sin of its own. */
#ifndef KORRAND_MUSL_NAMES_H
#define KORRAND_MUSL_NAMES_H

#include <math.h>

/* musl marks its internal functions hidden; in a static library of ours that says nothing. */
#define hidden

#define sin korrand_musl_sin
#define cos korrand_musl_cos
#define tan korrand_musl_tan
#define asin korrand_musl_asin
#define atan korrand_musl_atan
#define atan2 korrand_musl_atan2
#define hypot korrand_musl_hypot
#define log10 korrand_musl_log10
#define scalbn korrand_musl_scalbn
#define __sin korrand_musl___sin
#define __cos korrand_musl___cos
#define __tan korrand_musl___tan
#define __rem_pio2 korrand_musl___rem_pio2
#define __rem_pio2_large korrand_musl___rem_pio2_large
/* Declared by musl's libm.h for functions not taken here, and by glibc's <math.h> otherwise. */
#define __sinl korrand_musl___sinl
#define __cosl korrand_musl___cosl
#define __tanl korrand_musl___tanl
#define __lgamma_r korrand_musl___lgamma_r
#define __lgammaf_r korrand_musl___lgammaf_r

/* The C library declared these under their own names: declared again under ours. */
double sin(double);
double cos(double);
double tan(double);
double asin(double);
double atan(double);
double atan2(double, double);
double hypot(double, double);
double log10(double);
double scalbn(double, int);

#endif
