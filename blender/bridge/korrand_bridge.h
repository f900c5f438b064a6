/*
 * korrand_bridge: a C interface over the host model, for hosts written in other languages
 * (the Blender add-on calls it through ctypes). It loads a plug-in folder exactly as the
 * command-line host does, through the plug-in's c4d_main, and drives modifier instances of it.
 *
 * Conventions:
 *   - Functions that can fail return a KorrandStatus; KORRAND_OK (0) is success. On failure
 *     korrand_last_error() describes it in one line.
 *   - Ownership is stated per function. Nothing the bridge returns is freed by the caller; every
 *     buffer the caller passes in stays the caller's and is not kept after the call returns.
 *   - Threads: calls on different instances may run concurrently, including
 *     korrand_dash_objects. Calls on the same instance, and korrand_open / korrand_close, must
 *     not overlap with other calls on the same handle. korrand_points_from_list touches the
 *     host's own memory: the host must not change or free that list during the call (in
 *     Blender, make it on the thread of its handlers, outside evaluation).
 */
#ifndef KORRAND_BRIDGE_H
#define KORRAND_BRIDGE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define KORRAND_BRIDGE_API __declspec(dllexport)
#else
#define KORRAND_BRIDGE_API __attribute__((visibility("default")))
#endif

/* Raised whenever the interface below changes. A change that only adds entries keeps every
   earlier entry and structure as it was, so a caller written for an earlier version since the
   last incompatible one still works: see korrand_bridge_version_is_compatible. */
/* 4 added korrand_dash_objects, korrand_segment_lengths and korrand_period_count; 5 added
   korrand_group_segments; 6 added the korrand_result_ entries and retired korrand_dash,
   korrand_dash_float, korrand_dash_gather, korrand_points_xyzw and korrand_points_to_list, which
   no host called any more; 7 added korrand_set_traced, and korrand_dash_objects dashes a large
   call's line objects on several threads; 8 added korrand_result_trim; 9 added
   korrand_ring_channels; 10 added korrand_result_reverse, and korrand_ring_channels reports
   which splines Blender sweeps from their end (their normals are no longer turned over); 11
   added korrand_result_join_seams; 12 retired its line-object arguments, which no host passed:
   it reads each dash's segment from the sources. */
#define KORRAND_BRIDGE_VERSION 12
/* The first version whose entries and structures this one still keeps unchanged. */
#define KORRAND_BRIDGE_OLDEST_COMPATIBLE 12

typedef enum KorrandStatus {
    KORRAND_OK = 0,
    KORRAND_ERROR_ARGUMENT = 1, /* a null handle or pointer, an index out of range */
    KORRAND_ERROR_PLUGIN = 2,   /* the folder cannot be loaded, or the plug-in refused */
    KORRAND_ERROR_VALUE = 3,    /* a parameter id or value the description does not allow */
    KORRAND_ERROR_MEMORY = 4    /* the bridge ran out of memory */
} KorrandStatus;

typedef enum KorrandParameterType {
    KORRAND_TYPE_LONG = 1,
    KORRAND_TYPE_BOOL = 2,
    KORRAND_TYPE_REAL = 3,
    KORRAND_TYPE_BUTTON = 4
} KorrandParameterType;

typedef struct KorrandPlugin KorrandPlugin;
typedef struct KorrandInstance KorrandInstance;

/* One parameter of the plug-in's description resource. The strings belong to the plug-in
   handle and stay valid until korrand_close. */
typedef struct KorrandParameter {
    int32_t id;
    int32_t type; /* KorrandParameterType */
    const char* name;
    const char* label;
    int32_t has_default, has_min, has_max; /* 1 when the value beside it is given */
    double default_value, min, max;
    const char* key;  /* the name every host gives it: "count" for KORRAND_COUNT */
    const char* help; /* what it does, in its units, for a tooltip; "" when none */
    const char* off;  /* a boolean's name for its false state ("open"), or "" */
    int32_t hidden;   /* 1: stored with the object, not for a host to show or set */
} KorrandParameter;

/* The result of korrand_dash_objects. points holds point_count x, y, z triples (doubles) back
   to back, counts the point count of each of segment_count segments, in order. Both arrays
   belong to the instance: valid until its next korrand_dash_objects or
   korrand_result_in_segment_order, or korrand_instance_destroy. result is 1 when the plug-in's
   modify operation answered success for every line object, else 0. */
typedef struct KorrandLine {
    const double* points;
    int64_t point_count;
    const int32_t* counts;
    int32_t segment_count;
    int32_t result;
} KorrandLine;

/* KORRAND_BRIDGE_VERSION of the library actually loaded. */
KORRAND_BRIDGE_API int32_t korrand_bridge_version(void);
/* 1 when the library actually loaded serves a caller written for bridge version `wanted`: it is
   at least that version and keeps that version's entries unchanged; else 0. Call it first. */
KORRAND_BRIDGE_API int32_t korrand_bridge_version_is_compatible(int32_t wanted);

/* The last failure on the calling thread, one line; "" when none. Owned by the bridge, valid
   until the calling thread's next bridge call. */
KORRAND_BRIDGE_API const char* korrand_last_error(void);

/* Loads the plug-in library of folder, starts it, finds its modifier registration and reads
   its description resource. On success *plugin is a new handle owned by the caller, released
   with korrand_close; on failure *plugin is null. */
KORRAND_BRIDGE_API int32_t korrand_open(const char* folder, KorrandPlugin** plugin);

/* Destroys the instances still alive, shuts the plug-in down and unloads it. Null is ignored. */
KORRAND_BRIDGE_API void korrand_close(KorrandPlugin* plugin);

/* The modifier's registered id and display name (owned by the handle, valid until close). */
KORRAND_BRIDGE_API int32_t korrand_plugin_id(const KorrandPlugin* plugin);
KORRAND_BRIDGE_API const char* korrand_plugin_name(const KorrandPlugin* plugin);

/* The parameters of the description resource, in its order. */
KORRAND_BRIDGE_API int32_t korrand_parameter_count(const KorrandPlugin* plugin);
KORRAND_BRIDGE_API int32_t korrand_parameter(const KorrandPlugin* plugin, int32_t index,
                                             KorrandParameter* parameter);

/* The largest single memory block the host grants its plug-ins, for every open plug-in (a
   runaway request is refused instead of exhausting the machine). korrand_open sets 1 GiB. */
KORRAND_BRIDGE_API void korrand_set_block_limit(int64_t bytes);

/* What the host holds for all plug-ins: memory blocks and objects alive (either may be null).
   For leak checks: after korrand_close of every plug-in both return to their earlier values. */
KORRAND_BRIDGE_API void korrand_host_alive(int64_t* blocks, int64_t* objects);

/* A new modifier instance, initialised by the plug-in (its defaults written). *instance is
   owned by the caller, released with korrand_instance_destroy (or korrand_close). */
KORRAND_BRIDGE_API int32_t korrand_instance_create(KorrandPlugin* plugin,
                                                   KorrandInstance** instance);
KORRAND_BRIDGE_API void korrand_instance_destroy(KorrandInstance* instance);

/* Stores value under parameter id with the type its description gives (an integer or boolean
   parameter takes a whole number). Values outside the description's limits are refused. */
KORRAND_BRIDGE_API int32_t korrand_set(KorrandInstance* instance, int32_t id, double value);
/* The value stored under id, read with the type its description gives. */
KORRAND_BRIDGE_API int32_t korrand_get(const KorrandInstance* instance, int32_t id, double* value);

/* Sends the instance the host's description-command message for element id (a button press).
   *opened receives what the plug-in asked the host to open in a web browser during the call,
   one address per line, "" when nothing; owned by the instance, valid until its next
   korrand_command or destruction. */
KORRAND_BRIDGE_API int32_t korrand_command(KorrandInstance* instance, int32_t id,
                                           const char** opened);

/* One line object of korrand_dash_objects: the input segments it holds and the settings it is
   dashed with besides the instance's own. */
typedef struct KorrandLineObject {
    int32_t first_segment; /* its segments are segments[first_segment + i], i < segment_count */
    int32_t segment_count;
    int32_t first_setting; /* its settings: setting_ids and setting_values from first_setting */
    int32_t setting_count;
} KorrandLineObject;

/* Runs the modifier once per line object, as a host hands it several objects: the input is a
   line form of segment_count segments of counts[i] points (x, y, z every stride floats, widened
   exactly, segments back to back); object k holds the input segments whose indices segments[]
   lists for it, in that order, and is dashed with the instance's settings and its own on top
   (each id and value typed as korrand_set takes them, but, being what the host decides for the
   object, such as a count derived from a dash length, not held to the description's limits;
   the instance's values are back when the call returns). dashes[k] receives how many segments
   object k came out with; line receives all of them, object after object, and its result is 1 only
   when every object's modify answered 1. Read it with the korrand_result_ entries. A call of
   many objects and points runs them on up to as many threads as the machine has cores (at most
   8), each with modifiers of its own; the result is the same bits as from one thread, and a
   failure names the lowest failing object. */
KORRAND_BRIDGE_API int32_t korrand_dash_objects(KorrandInstance* instance, const float* points,
                                                int32_t stride, const int32_t* counts,
                                                int32_t segment_count, const int32_t* segments,
                                                const KorrandLineObject* objects,
                                                int32_t object_count, const int32_t* setting_ids,
                                                const double* setting_values, int32_t* dashes,
                                                KorrandLine* line);

/* Whether korrand_dash_objects records where each point of its result lies (1, the default),
   which korrand_result_sources, korrand_result_carry and korrand_result_in_segment_order read.
   Recording costs time in every sample: a host that reads none of them sets 0, and those
   entries then answer KORRAND_ERROR_PLUGIN for the results dashed so. */
KORRAND_BRIDGE_API void korrand_set_traced(KorrandInstance* instance, int32_t traced);

/* How the segments (splines) of one curve become the line objects of korrand_dash_objects, by
   the rule every host follows. closed[i] is 1 for a segment the curve closes (a cyclic spline),
   0 for an open one; null: the instance's Closed decides for every segment. own_counts 1: each
   segment gets a dash count of its own (derived from a dash length). Segments with counts of
   their own, or that the instance's settings do not relate (neither Relative nor Jitter), are
   one line object each; related segments stay together: all in one line object, or, with
   closed given, one of the closed and one of the open ones, the kind of the first segment
   first. Writes the segments' indices object after object into segments (segment_count
   entries), the objects into objects (at most segment_count), their number into *object_count,
   and, with closed given, each object's closedness as its one setting into setting_ids and
   setting_values (at most segment_count each; null allowed without closed): the arrays
   korrand_dash_objects takes. */
KORRAND_BRIDGE_API int32_t korrand_group_segments(const KorrandInstance* instance,
                                                  const int32_t* closed, int32_t segment_count,
                                                  int32_t own_counts, int32_t* segments,
                                                  KorrandLineObject* objects, int32_t* setting_ids,
                                                  double* setting_values, int32_t* object_count);

/* The length of each of segment_count segments of a line form laid out as korrand_dash_objects
   takes it, after the affine transform matrix (16 doubles, row by row, the last row 0 0 0 1;
   null for none), into lengths (segment_count doubles). closed[i] 1 adds the edge from segment
   i's last point back to its first; closed may be null (all open). */
KORRAND_BRIDGE_API int32_t korrand_segment_lengths(const float* points, int32_t stride,
                                                   const int32_t* counts, int32_t segment_count,
                                                   const int32_t* closed, const double* matrix,
                                                   double* lengths);

/* The dash count every host derives from a dash length: one dash and gap per period of a
   segment's length, rounded, at least one (also for a length or period that is not a positive
   number), at most the largest 32-bit count. The count option's limit does not apply: hand it
   to the plug-in as a stored value. */
KORRAND_BRIDGE_API int32_t korrand_period_count(double length, double period);

/* The points of the last korrand_dash_objects result as x, y, z floats (each coordinate
   rounded once), into xyz (3 * its point_count floats, owned by the caller). */
KORRAND_BRIDGE_API int32_t korrand_result_xyz(const KorrandInstance* instance, float* xyz,
                                              int64_t capacity);

/* The edges of the last result's dashes as pairs of point indices: for a dash of c points from
   point a, (a, a + 1) .. (a + c - 2, a + c - 1); 2 * (point_count - segment_count) entries. */
KORRAND_BRIDGE_API int32_t korrand_result_edges(const KorrandInstance* instance, int32_t* edges,
                                                int64_t capacity);

/* Where each point of the last result lies on the input, as the host saw the plug-in sample it:
   segment, the index of the input segment (as korrand_dash_objects numbered them); uniform, the
   fraction of that segment's length the plug-in asked for; position, where on the segment's
   points it was evaluated, as a point index and a fraction (2.25: a quarter of the way from its
   point 2 to its point 3; where the segment was measured closed, the edge after its last point
   leads back to point 0). Any of the three may be null. KORRAND_ERROR_PLUGIN when that is not
   known (the plug-in wrote points it did not sample). */
KORRAND_BRIDGE_API int32_t korrand_result_sources(const KorrandInstance* instance, int32_t* segment,
                                                  double* uniform, double* position,
                                                  int64_t capacity);

/* Carries values given for the input's points onto the points of the last result: width floats
   per input point (input_points of them, the points of the last korrand_dash_objects input),
   each result point getting its position's interpolation between the two points it lies
   between (korrand_result_sources), into out (width floats per result point). */
KORRAND_BRIDGE_API int32_t korrand_result_carry(const KorrandInstance* instance,
                                                const float* values, int32_t width,
                                                int64_t input_points, float* out, int64_t capacity);

/* Puts the last result's dashes in the order of the input segments they lie on (a stable sort:
   the dashes of one segment keep their order), with their points and sources: line objects
   that hold several segments (relative counts, jitter) give their dashes object by object.
   line receives the result as it now is (its result flag is left as it was). */
KORRAND_BRIDGE_API int32_t korrand_result_in_segment_order(KorrandInstance* instance,
                                                           KorrandLine* line);

/* Turns round the point order (points and sources) of every dash of the last result that lies
   on a segment flagged in reversed (segment_count int32 flags, nonzero: turned), so that it runs
   the way the host sweeps that segment (korrand_ring_channels). line receives the result as it
   now is (its result flag is left as it was). */
KORRAND_BRIDGE_API int32_t korrand_result_reverse(KorrandInstance* instance,
                                                  const int32_t* reversed, int32_t segment_count,
                                                  KorrandLine* line);

/* Keeps of the last result only what lies within a range of each input segment, as a curve
   drawn from a start to an end factor shows: segment i's dash points from position from[i] to
   to[i] (positions as korrand_result_sources gives them; from[i] > to[i] keeps nothing of it).
   A dash crossing a range's end is cut there, its new end point and its source interpolated; a
   dash leaving and entering the range again becomes two. line receives the result as it now is
   (its result flag is left as it was). */
KORRAND_BRIDGE_API int32_t korrand_result_trim(KorrandInstance* instance, const double* from,
                                               const double* to, int32_t segment_count,
                                               KorrandLine* line);

/* Joins the dash the modifier cut in two at the start of a segment it measured closed back into
   one: the piece that ends there, then the one that starts there without its first point, put
   where the earlier of the two was, with their sources. seams: x, y, z of each segment's first
   point (segment_count triples), NaN for a segment not measured closed. Needs the sources
   (korrand_set_traced), which say which segment each dash lies on. A piece ends or starts at
   the seam within a millionth of the larger coordinate and at the loop's end or start (a loop
   may pass through its first point again). line receives the result as it now is (its result
   flag is left as it was). */
KORRAND_BRIDGE_API int32_t korrand_result_join_seams(KorrandInstance* instance, const float* seams,
                                                     int32_t segment_count, KorrandLine* line);

/* How a host keeps a curve's segments in its own memory: a singly linked list of records, one
   per segment, each with its point count and a pointer to its points, every point opening with
   x, y, z, w floats. Offsets and sizes are in bytes. */
typedef struct KorrandSegmentList {
    int32_t next_offset;   /* of a record's pointer to the next record; null ends the list */
    int32_t count_offset;  /* of its point count, an int32 */
    int32_t points_offset; /* of its pointer to its first point */
    int32_t point_size;    /* from one point to the next; at least 16 */
} KorrandSegmentList;

/* Reads a host's segments: copies the x, y, z of every point of the list that
   starts at first into xyz (packed triples in list order; capacity floats, owned by the caller)
   after checking the whole list holds exactly segment_count records of counts[i] points each.
   *changed is 1 when any float copied differs, bit for bit, from what xyz held before, else 0:
   a caller that reads into the same buffer each time learns whether the input moved at no
   extra cost. On a mismatch nothing is copied and *changed is left as it was. */
KORRAND_BRIDGE_API int32_t korrand_points_from_list(const KorrandSegmentList* layout,
                                                    const void* first, const int32_t* counts,
                                                    int32_t segment_count, float* xyz,
                                                    int64_t capacity, int32_t* changed);

/* What a curve's profile follows at each of point_count points of xyz (packed x, y, z triples),
   read from a sweep of a round profile of radius 1 with a ring at every point: rings holds 4
   vertices a point (12 floats), the first on the binormal side, the last on the normal side,
   ring by ring in the points' order, spline by spline (spline_count splines of counts[i]
   points). out (4 floats a point, owned by the caller) receives each point's radius (the ring's
   distance from its centre on the binormal side) and unit normal (0 0 0 where the ring has no
   normal side). A cyclic spline's rings may start at another of its points: they are matched
   by the ring centred on the spline's first point. A closed spline's rings may also run from
   its end to its start (Blender orders a 2D spline so for its fill): reversed (spline_count
   int32s, or null) receives 1 for such a spline, else 0; a sweep that matches Blender's runs
   that spline's dashes the same way (korrand_result_reverse). *matched is 0 when a spline's
   rings meet none of its points (out and reversed are then incomplete), else 1. */
KORRAND_BRIDGE_API int32_t korrand_ring_channels(const float* rings, const float* xyz,
                                                 int64_t point_count, const int32_t* counts,
                                                 int32_t spline_count, float* out,
                                                 int32_t* reversed, int32_t* matched);

#ifdef __cplusplus
}
#endif

#endif
