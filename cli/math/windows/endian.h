/* What musl's libm.h asks of <endian.h>, which MinGW-w64 does not have: x86-64 is little-endian. */
#ifndef KORRAND_MUSL_ENDIAN_H
#define KORRAND_MUSL_ENDIAN_H
#define __LITTLE_ENDIAN 1234
#define __BIG_ENDIAN 4321
#define __BYTE_ORDER __LITTLE_ENDIAN
#endif
