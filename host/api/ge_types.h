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

// The host's numbers under the names the plug-in's code uses; host_abi.h defines them.
constexpr Int32 Oline = HOST_OBJECT_LINE;
constexpr Int32 Tpoint = HOST_TAG_POINT;
constexpr Int32 Tsegment = HOST_TAG_SEGMENT;
constexpr Int32 MSG_UPDATE = HOST_MSG_UPDATE;
constexpr Int32 MSG_DESCRIPTION_COMMAND = HOST_MSG_DESCRIPTION_COMMAND;
constexpr Int32 SPLINETYPE_LINEAR = HOST_SPLINETYPE_LINEAR;
constexpr Int32 SPLINEOBJECT_CLOSED = HOST_SPLINEOBJECT_CLOSED;
constexpr Int32 PLUGINTYPE_OBJECT = HOST_PLUGINTYPE_OBJECT;
constexpr Int32 API_VERSION = HOST_API_VERSION;
constexpr Int32 DRAWPASS_HANDLES = HOST_DRAWPASS_HANDLES;
constexpr Int32 DRAWRESULT_OK = HOST_DRAWRESULT_OK;
constexpr Int32 DRAWRESULT_SKIP = HOST_DRAWRESULT_SKIP;
constexpr Int32 QUALIFIER_CTRL = HOST_QUALIFIER_CTRL;

// Object info flags.
constexpr Int32 OBJECT_MODIFIER = HOST_OBJECT_MODIFIER;
constexpr Int32 OBJECT_GENERATOR = HOST_OBJECT_GENERATOR;
constexpr Int32 OBJECT_PARTICLEMODIFIER = HOST_OBJECT_PARTICLEMODIFIER;
constexpr Int32 OBJECT_ISSPLINE = HOST_OBJECT_ISSPLINE;

// The table handed over by the host's first system initialisation; every wrapper calls
// through it. Set by the entry point, read everywhere else.
extern const HostFunctionTable* g_hostTable;

inline const HostFunctionTable& Host() {
    return *g_hostTable;
}

#endif
