// Plain types and constants the plug-in shares with the host.
#ifndef KORRAND_GE_TYPES_H
#define KORRAND_GE_TYPES_H

#include <stddef.h>
#include <stdint.h>

#include "host_abi.h"

using Int32 = int32_t;
using Int64 = int64_t;
using UInt32 = uint32_t;
using Float = double;

// A point in an object's own space; its layout is shared with the host.
struct Vector {
    Float x, y, z;
    Vector() : x(0.0), y(0.0), z(0.0) {}
    Vector(Float ax, Float ay, Float az) : x(ax), y(ay), z(az) {}
};
static_assert(sizeof(Vector) == 24, "Vector is three packed doubles");
static_assert(offsetof(Vector, x) == 0 && offsetof(Vector, y) == 8 && offsetof(Vector, z) == 16,
              "Vector is x, y, z in this order");
static_assert(sizeof(Vector) == sizeof(HostVector), "Vector matches the host's layout");

// One segment record of a spline or line object; layout shared with the host.
struct Segment {
    Int32 cnt;
    Int32 closed;
};
static_assert(sizeof(Segment) == 8, "segment record is 8 bytes");
static_assert(offsetof(Segment, cnt) == 0 && offsetof(Segment, closed) == 4,
              "count first, closed flag in the four bytes after it");
static_assert(sizeof(Segment) == sizeof(HostSegment), "Segment matches the host's layout");

// Host constants.
constexpr Int32 Oline = 5137;
constexpr Int32 Tpoint = 5600;
constexpr Int32 Tsegment = 5672;
constexpr Int32 MSG_UPDATE = 5;
constexpr Int32 MSG_DESCRIPTION_COMMAND = 19;
constexpr Int32 SPLINETYPE_LINEAR = 0;
constexpr Int32 SPLINEOBJECT_CLOSED = 1002;
constexpr Int32 PLUGINTYPE_OBJECT = HOST_PLUGINTYPE_OBJECT;
constexpr Int32 API_VERSION = HOST_API_VERSION;
constexpr Int32 DRAWPASS_HANDLES = 2;
constexpr Int32 DRAWRESULT_OK = 1;
constexpr Int32 DRAWRESULT_SKIP = 2;
constexpr Int32 QUALIFIER_CTRL = 2;

// Object info flags.
constexpr Int32 OBJECT_MODIFIER = 1 << 0;
constexpr Int32 OBJECT_GENERATOR = 1 << 2;
constexpr Int32 OBJECT_PARTICLEMODIFIER = 1 << 5;
constexpr Int32 OBJECT_ISSPLINE = 1 << 7;

// The table handed over by the host's first system initialisation; every wrapper calls
// through it. Set by the entry point, read everywhere else.
extern const HostFunctionTable* g_hostTable;

inline const HostFunctionTable& Host() { return *g_hostTable; }

#endif
