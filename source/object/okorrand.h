// The modifier's ids: its plug-in id, and its parameter ids as stored in its node's container
// and named in the description resource "okorrand" (1007 and 1010 are unused).
#ifndef KORRAND_OKORRAND_H
#define KORRAND_OKORRAND_H

// The id the modifier type is registered under.
enum { ID_KORRAND = 1027780 };

enum {
    KORRAND_COUNT = 1000,
    KORRAND_RELATIVE = 1001,
    KORRAND_SUBDIVISION = 1002,
    KORRAND_OFFSET = 1003,
    KORRAND_CLOSED = 1004,
    KORRAND_START = 1005,
    KORRAND_END = 1006,
    KORRAND_SEED = 1008,
    KORRAND_JITTER = 1009,
    KORRAND_RESERVED_1011 = 1011,
    KORRAND_WEBLINK = 5000
};

#endif
