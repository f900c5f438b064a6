/*
 * The host's function table: the only channel between a plug-in library and the host.
 *
 * The host hands a pointer to one HostFunctionTable to c4d_main (action 1, first argument).
 * Its first field is the interface version; a plug-in refuses hosts older than the version it
 * was written for. Every other service is an entry in one of the grouped sub-tables below.
 *
 * This header is C (it is compiled as C by a test) so that any host or plug-in toolchain can
 * share it. Conventions, valid for every entry unless its comment says otherwise:
 *   - Booleans are int32_t: 0 is false, 1 is true.
 *   - Every handle passed in may be null; an operation on a null handle does nothing and
 *     returns 0 / null / 0.0. A handle that is not null must be one the host handed out.
 *   - "Host-owned" results stay valid until the named release operation; the plug-in never
 *     frees them with GeFree.
 *   - An entry that is a null pointer is a service the host does not offer; callers treat
 *     it as "failed" (optional entries are marked OPTIONAL).
 *   - Sizes and counts of bytes are int64_t; element counts of scene data are int32_t.
 *   - Threads: the host evaluates a scene on several threads at once, calling ModifyObject for
 *     different objects concurrently, so the entries it reaches are callable from any thread.
 *     Each group below says on which threads its entries may be called, in these terms:
 *       "any thread": from any thread, concurrently with any entry, as long as no other thread
 *         changes the same handle meanwhile; entries taking a const handle only read it, so
 *         any number of threads may read one handle together.
 *       "entry point only": only during a call of c4d_main, which the host never makes from
 *         two threads at once.
 */
#ifndef KORRAND_HOST_ABI_H
#define KORRAND_HOST_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define HOST_API_VERSION 13000

/* ---- Shared plain layouts --------------------------------------------------------------- */

/* A point in an object's own coordinate space. 24 bytes, x then y then z. */
typedef struct HostVector {
    double x, y, z;
} HostVector;

/* One segment record of a spline or line object. 8 bytes: point count, closed flag. */
typedef struct HostSegment {
    int32_t cnt;
    int32_t closed;
} HostSegment;

/* An affine matrix: offset and three axes. */
typedef struct HostMatrix {
    HostVector off, v1, v2, v3;
} HostMatrix;

/* Value types the plug-in constructs in its own memory and the host fills in place
   (through Init/Free below). The plug-in never looks inside them. */
typedef struct HostStringData {
    void* impl;
} HostStringData;
typedef struct HostFilenameData {
    void* impl;
} HostFilenameData;
typedef struct HostDescIDData {
    void* impl;
} HostDescIDData;

/* ---- Opaque handles ----------------------------------------------------------------------- */

typedef struct HostAtom HostAtom;           /* any scene node: objects, splines, line objects */
typedef struct HostContainer HostContainer; /* a node's parameter container */
typedef struct HostMeasurer HostMeasurer;   /* arc-length measurer prepared on a spline */
typedef struct HostBitmap HostBitmap;
typedef struct HostResource HostResource; /* a loaded plug-in resource (string table) */
typedef struct HostDocument HostDocument;
typedef struct HostThread HostThread;
typedef struct HostHyperFile HostHyperFile;
typedef struct HostAliasTrans HostAliasTrans;
typedef struct HostDescription HostDescription;
typedef struct HostGeData HostGeData;
typedef struct HostBaseDraw HostBaseDraw;
typedef struct HostDrawHelp HostDrawHelp;
typedef struct HostNodeData HostNodeData; /* a plug-in's own object instance; opaque to the host */

/* Message data of message 19 (a description button was pressed). */
typedef struct HostDescriptionCommand {
    const HostDescIDData* id;
} HostDescriptionCommand;

/* A handle an object shows in the viewport. */
typedef struct HostHandleInfo {
    HostVector position;
    HostVector direction; /* the line along which the handle moves; zero: moves freely */
    int32_t type;
} HostHandleInfo;

/* ---- Memory ---------------------------------------------------------------------------------
 * line/file name the caller's source position; the host uses them only to attribute memory.
 * Threads: every entry, any thread; blocks may be freed on another thread than their own. */
typedef struct HostMemoryOps {
    /* A zero-filled block of size bytes, or null. Free with Free. */
    void* (*AllocZeroed)(int64_t size, int32_t line, const char* file);
    /* A block of at least size bytes, contents undefined, or null. Free with Free. */
    void* (*AllocBlock)(int64_t size, int32_t line, const char* file);
    /* A block of size bytes whose leading bytes equal block's, or null (block then stays
       valid and owned by the caller). With block null this is AllocBlock. */
    void* (*ReallocBlock)(void* block, int64_t size, int32_t line, const char* file);
    /* Releases a block from the three operations above; null is ignored. */
    void (*Free)(void* block);
    /* Reports an impossible state in the caller; returns. */
    void (*StopReport)(int32_t line, const char* file);
} HostMemoryOps;

/* ---- Strings -------------------------------------------------------------------------------
 * Threads: every entry, any thread. A string value belongs to whoever constructed it; Empty's
 * string is only read, so all threads share it. */
typedef struct HostStringOps {
    /* Constructs an empty string in s. If the host cannot, s->impl stays null, which every
       operation treats as an empty string that ignores writes. */
    void (*Init)(HostStringData* s);
    /* Destroys the string in s; s->impl becomes null. */
    void (*Free)(HostStringData* s);
    /* Replaces the text with length bytes of text (length -1: up to the terminating zero).
       encoding 0 is 8-bit text. */
    void (*SetCString)(HostStringData* s, const char* text, int32_t length, int32_t encoding);
    /* dst := copy of src. */
    void (*Assign)(HostStringData* dst, const HostStringData* src);
    /* Number of characters. */
    int32_t (*GetLength)(const HostStringData* s);
    /* Inserts characters start..end-1 of src at position pos of s (start -1: from the
       beginning; end -1: to the end). Positions outside s are clamped to its ends. */
    void (*Insert)(HostStringData* s, int32_t pos, const HostStringData* src, int32_t start,
                   int32_t end);
    /* The host's shared empty string: host-owned, never null, valid for the host's life. */
    const HostStringData* (*Empty)(void);
} HostStringOps;

/* ---- File names ----------------------------------------------------------------------------
 * Threads: every entry, any thread. A file name belongs to whoever constructed it and is
 * freed by them with Free. */
typedef struct HostFilenameOps {
    void (*Init)(HostFilenameData* f);                                /* empty file name */
    void (*Free)(HostFilenameData* f);                                /* destroys it */
    void (*Copy)(HostFilenameData* dst, const HostFilenameData* src); /* dst := src */
    /* dst := directory part of src (empty when src has none). */
    void (*GetDirectory)(const HostFilenameData* src, HostFilenameData* dst);
    /* Appends name as one more path level. */
    void (*Append)(HostFilenameData* f, const HostStringData* name);
} HostFilenameOps;

/* ---- Parameter containers ------------------------------------------------------------------
 * Threads: every entry, any thread. The getters only read, so the evaluations of several
 * threads may read one modifier's container together; a setter needs the container to itself
 * (the host does not evaluate a node while its parameters are being set). */
typedef struct HostContainerOps {
    /* The node's own writable container: host-owned, lives as long as the node. */
    HostContainer* (*GetDataInstance)(HostAtom* node);
    void (*SetLong)(HostContainer* bc, int32_t id, int32_t value);
    void (*SetBool)(HostContainer* bc, int32_t id, int32_t value);
    void (*SetReal)(HostContainer* bc, int32_t id, double value);
    /* The stored value, or preset when id is absent. A value stored under another type is
       converted as the host converts it (integer <-> boolean <-> real). */
    int32_t (*GetLong)(const HostContainer* bc, int32_t id, int32_t preset);
    int32_t (*GetBool)(const HostContainer* bc, int32_t id, int32_t preset);
    double (*GetReal)(const HostContainer* bc, int32_t id, double preset);
} HostContainerOps;

/* ---- Scene objects -------------------------------------------------------------------------
 * Threads: every entry, any thread. The object being modified and the splines a caller
 * allocated belong to that caller's thread until it returns or frees them. */
typedef struct HostObjectOps {
    int32_t (*GetType)(const HostAtom* op);
    /* Sends a message; 5 (update) refreshes what the host derives from points and segments. */
    int32_t (*Message)(HostAtom* op, int32_t type, void* data);
    /* Destroys an object the plug-in created (SplineAlloc). */
    void (*Free)(HostAtom* op);

    /* Points of a point, spline or line object: host-owned arrays valid until the next
       resize; null when the object has none or is of another kind. */
    int32_t (*GetPointCount)(const HostAtom* op);
    const HostVector* (*GetPointR)(const HostAtom* op);
    HostVector* (*GetPointW)(HostAtom* op);

    /* Segment records of a spline or line object (null when none). */
    int32_t (*GetSegmentCount)(const HostAtom* op);
    const HostSegment* (*GetSegmentR)(const HostAtom* op);
    HostSegment* (*GetSegmentW)(HostAtom* op);

    /* A new open spline of type (0: linear) with pcnt points at the origin and one segment
       record, or null. The caller owns it and destroys it with Free. */
    HostAtom* (*SplineAlloc)(int32_t pcnt, int32_t type);
    /* Resizes points and segment records; new entries are zero. 1 when the object now has
       exactly that many of each; 0 (object unchanged) otherwise. */
    int32_t (*ResizeObject)(HostAtom* op, int32_t pcnt, int32_t scnt);
    /* Position at the spline's own parameter t (0..1) of segment seg; padr, when not null,
       replaces the spline's points. Parameters outside 0..1 are clamped. */
    HostVector (*GetSplinePoint)(const HostAtom* op, double t, int32_t seg, const HostVector* padr);
} HostObjectOps;

/* ---- Spline measurement -----------------------------------------------------------------------
 * Threads: every entry, any thread; a measurer belongs to the thread that allocated it.
 * UniformToNatural may update the measurer's own lookup state, so one measurer is never used
 * by two threads at once. */
typedef struct HostMeasurerOps {
    HostMeasurer* (*Alloc)(void); /* null on failure; destroy with Free */
    void (*Free)(HostMeasurer* m);
    /* Prepares m on segment seg of spline op (override, when not null, is measured instead
       with op's settings). 1 when the segment can be measured. The measurer copies what it
       needs: the spline may change afterwards. */
    int32_t (*Init)(HostMeasurer* m, const HostAtom* op, int32_t seg, const HostAtom* override_);
    /* Length of the prepared segment, closing edge included when the spline is closed. */
    double (*GetLength)(const HostMeasurer* m);
    /* The spline's own parameter at the fraction u of the length (u clamped to 0..1). */
    double (*UniformToNatural)(HostMeasurer* m, double u);
} HostMeasurerOps;

/* ---- Bitmaps -------------------------------------------------------------------------------
 * Threads: every entry, any thread; a bitmap belongs to whoever allocated it. */
typedef struct HostBitmapOps {
    HostBitmap* (*Alloc)(void); /* an empty bitmap or null; destroy with Free */
    void (*Free)(HostBitmap* bmp);
    /* Loads the image file name (frame -1: the first). Returns 1 on success, another value
       on failure (the bitmap then stays empty). ismovie may be null. */
    int32_t (*Init)(HostBitmap* bmp, const HostFilenameData* name, int32_t frame, int32_t* ismovie);
    int32_t (*GetBw)(const HostBitmap* bmp);
    int32_t (*GetBh)(const HostBitmap* bmp);
} HostBitmapOps;

/* ---- Plug-in resources -----------------------------------------------------------------------
 * Threads: Load and Free, entry point only (the plug-in loads and releases its resource in
 * c4d_main); GetString, any thread, as it only reads a loaded resource. */
typedef struct HostResourceOps {
    /* Loads the resource (string table) of a plug-in folder: a handle, or null when the
       folder has none or it cannot be read. Release with Free. */
    HostResource* (*Load)(const HostFilenameData* folder);
    void (*Free)(HostResource* res);
    /* String id of the resource: host-owned, valid while res is loaded; the shared empty
       string when res has no such id. */
    const HostStringData* (*GetString)(const HostResource* res, int32_t id);
} HostResourceOps;

/* ---- Description IDs ------------------------------------------------------------------------
 * Threads: every entry, any thread; an ID belongs to whoever constructed it. */
typedef struct HostDescIDOps {
    /* Constructs a one-level description ID in place. */
    void (*InitLevel)(HostDescIDData* d, int32_t id, int32_t dtype, int32_t creator);
    void (*Free)(HostDescIDData* d);
    /* OPTIONAL. 1 when a and b name the same element. */
    int32_t (*Equal)(const HostDescIDData* a, const HostDescIDData* b);
} HostDescIDOps;

/* ---- Viewport drawing (used by objects that show handles) ----------------------------------
 * Threads: every entry, only on the thread that the host's Draw or DetectHandle call runs on,
 * with the draw target it passed. */
typedef struct HostDrawOps {
    void (*DrawHandle)(HostBaseDraw* bd, const HostVector* position, int32_t type);
    /* 1 when the screen point x, y lies on the handle drawn at position. */
    int32_t (*PointInRange)(HostBaseDraw* bd, const HostVector* position, int32_t x, int32_t y);
} HostDrawOps;

/* ---- Registration ---------------------------------------------------------------------------
 * The record of an object plug-in, HostObjectPluginRecord, is HOST_OBJECT_RECORD_SIZE bytes: the
 * fields below, then reserved bytes, zero, that the interface keeps for later entries. Its width
 * is the platform's: 576 bytes on Windows x64 (and Linux), 1152 bytes on macOS x86-64, where
 * each entry that leads to an operation of the object (the numbered ones, HOST_OPERATION) takes
 * 16 bytes instead of 8. A host reads only records of its own platform's width and refuses a
 * registration of any other width. Linux builds made with KORRAND_MACOS_VARIANT use the macOS
 * record, so that its tests run there.
 *
 * How a host calls an operation entry on the plug-in's object obj:
 *   8-byte entry: function is the address of a function that takes the object first and the
 *     host's arguments after it; the host calls function(obj, arguments...).
 *   16-byte entry, laid out as the Itanium C++ ABI lays out a pointer to member function:
 *     function holds either the address of the code or, when it is odd, 1 plus the byte offset
 *     of the operation in the object's virtual table; adjust is added to the object's address.
 *     The host computes self := obj + adjust bytes. When function is odd, the code is the
 *     pointer found at byte offset function - 1 of self's virtual table, whose address is the
 *     pointer in self's first 8 bytes; otherwise the code is function itself. The host calls
 *     the code with self first and its own arguments after.
 *   An entry whose function is null is one the plug-in does not fill; the host calls nothing.
 * A plug-in that passes its own functions (as this one does) writes adjust 0: that is the
 * layout of a pointer to a member function that is not virtual and needs no adjustment. */
#define HOST_OBJECT_RECORD_SIZE_WINDOWS 576 /* 8-byte operation entries: Windows x64, Linux */
#define HOST_OBJECT_RECORD_SIZE_MACOS 1152  /* 16-byte operation entries: macOS x86-64 */
#if defined(__APPLE__) || defined(KORRAND_MACOS_VARIANT)
#define HOST_OBJECT_RECORD_SIZE HOST_OBJECT_RECORD_SIZE_MACOS
#define HOST_OPERATION_ENTRY_SIZE 16
#define HOST_OPERATION(result, name, parameters) \
    struct {                                     \
        result(*function) parameters;            \
        intptr_t adjust;                         \
    } name
#define HOST_RECORD_RESERVED_BYTES 600
#else
#define HOST_OBJECT_RECORD_SIZE HOST_OBJECT_RECORD_SIZE_WINDOWS
#define HOST_OPERATION_ENTRY_SIZE 8
#define HOST_OPERATION(result, name, parameters) \
    struct {                                     \
        result(*function) parameters;            \
    } name
#define HOST_RECORD_RESERVED_BYTES 272
#endif

/* Every entry receives the plug-in's object instance first, then the host's arguments. The
   numbers are the positions of the operations in the object class (1 is its destructor).
   Threads: the host calls every entry from any thread. It calls ModifyObject for several
   objects to modify at once, also with one modifier object shared among the calls, so an
   object's ModifyObject must keep its working data private to the call. Every other entry
   the host calls for one modifier object from one thread at a time, never while a
   ModifyObject of that object runs; Alloc and Destroy touch no shared state. */
/* Left as written: clang-format reads the entries' parameter lists as expressions. */
/* clang-format off */
typedef struct HostNodePluginPart {
    int32_t info;
    void (*Destroy)(HostNodeData* obj);
    int32_t diskLevel;
    void* reserved;
    /* Not kept: the host reads the icon of the object part (HostObjectPluginRecord.icon) and
       this one only when that is null. A plug-in sets both to the same bitmap. */
    HostBitmap* icon;
    HostNodeData* (*Alloc)(void);
    /* 2 */ HOST_OPERATION(int32_t, Init, (HostNodeData* obj, HostAtom* node));
    /* 3 */ HOST_OPERATION(void, Free, (HostNodeData* obj, HostAtom* node));
    /* 4 */ HOST_OPERATION(int32_t, Read,
                           (HostNodeData* obj, HostAtom* node, HostHyperFile* hf, int32_t level));
    /* 5 */ HOST_OPERATION(int32_t, Write, (HostNodeData* obj, HostAtom* node, HostHyperFile* hf));
    /* 6 */ HOST_OPERATION(int32_t, Message,
                           (HostNodeData* obj, HostAtom* node, int32_t type, void* data));
    /* 7 */ HOST_OPERATION(int32_t, CopyTo,
                           (HostNodeData* obj, HostNodeData* dest, HostAtom* snode,
                            HostAtom* dnode, int32_t flags, HostAliasTrans* trn));
    /* 8 */ HOST_OPERATION(void, GetBubbleHelp,
                           (HostNodeData* obj, HostAtom* node, HostStringData* str));
    /* 9 */ HOST_OPERATION(HostDocument*, GetDocument, (HostNodeData* obj, HostAtom* node));
    /* 10 */ HOST_OPERATION(int32_t, GetBranchInfo,
                            (HostNodeData* obj, HostAtom* node, void* info, int32_t max,
                             int32_t flags));
    /* 11 */ HOST_OPERATION(int32_t, IsInstanceOf,
                            (HostNodeData* obj, const HostAtom* node, int32_t type));
    /* 12 */ HOST_OPERATION(int32_t, GetDDescription,
                            (HostNodeData* obj, HostAtom* node, HostDescription* description,
                             int32_t* flags));
    /* 13 */ HOST_OPERATION(int32_t, GetDParameter,
                            (HostNodeData* obj, HostAtom* node, const HostDescIDData* id,
                             HostGeData* t_data, int32_t* flags));
    /* 14 */ HOST_OPERATION(int32_t, SetDParameter,
                            (HostNodeData* obj, HostAtom* node, const HostDescIDData* id,
                             const HostGeData* t_data, int32_t* flags));
    /* 15 */ HOST_OPERATION(int32_t, GetDEnabling,
                            (HostNodeData* obj, HostAtom* node, const HostDescIDData* id,
                             const HostGeData* t_data, int32_t flags, const void* itemdesc));
    /* 16 */ HOST_OPERATION(int32_t, TranslateDescID,
                            (HostNodeData* obj, HostAtom* node, const HostDescIDData* id,
                             HostDescIDData* res_id, HostAtom** res_at));
    /* 17 */ HOST_OPERATION(int32_t, IsDocumentRelated,
                            (HostNodeData* obj, const HostAtom* node, int32_t* docrelated));
} HostNodePluginPart;

typedef struct HostObjectPluginRecord {
    HostNodePluginPart node;
    /* The icon the host keeps (it copies the image during RegisterPlugin). */
    HostBitmap* icon;
    /* 18 */ HOST_OPERATION(void, GetDimension,
                            (HostNodeData* obj, HostAtom* op, HostVector* mp, HostVector* rad));
    /* 19 */ HOST_OPERATION(int32_t, Draw,
                            (HostNodeData* obj, HostAtom* op, int32_t drawpass, HostBaseDraw* bd,
                             HostDrawHelp* bh));
    /* 20 */ HOST_OPERATION(int32_t, DetectHandle,
                            (HostNodeData* obj, HostAtom* op, HostBaseDraw* bd, int32_t x,
                             int32_t y, int32_t qualifier));
    /* 21 */ HOST_OPERATION(int32_t, MoveHandle,
                            (HostNodeData* obj, HostAtom* op, HostAtom* undo,
                             const HostVector* mouse, int32_t hit_id, int32_t qualifier,
                             HostBaseDraw* bd));
    /* 22 */ HOST_OPERATION(int32_t, Execute,
                            (HostNodeData* obj, HostAtom* op, HostDocument* doc, HostThread* bt,
                             int32_t priority, int32_t flags));
    /* 23 */ HOST_OPERATION(int32_t, AddToExecution,
                            (HostNodeData* obj, HostAtom* op, void* list));
    /* 24 */ HOST_OPERATION(void, GetModelingAxis,
                            (HostNodeData* obj, HostAtom* op, HostDocument* doc,
                             HostMatrix* axis));
    /* 25 */ HOST_OPERATION(HostAtom*, GetVirtualObjects,
                            (HostNodeData* obj, HostAtom* op, void* hh));
    /* 26 */ HOST_OPERATION(int32_t, ModifyObject,
                            (HostNodeData* obj, HostAtom* mod, HostDocument* doc, HostAtom* op,
                             const HostMatrix* op_mg, const HostMatrix* mod_mg, double lod,
                             int32_t flags, HostThread* thread));
    /* 27 */ HOST_OPERATION(void, CheckDirty,
                            (HostNodeData* obj, HostAtom* op, HostDocument* doc));
    /* 28 */ HOST_OPERATION(HostAtom*, GetContour,
                            (HostNodeData* obj, HostAtom* op, HostDocument* doc, double lod,
                             HostThread* bt));
    /* 29 */ HOST_OPERATION(void, ModifyParticles,
                            (HostNodeData* obj, HostAtom* op, void* pp, void* ss, int32_t pcnt,
                             double diff));
    /* 30 */ HOST_OPERATION(int32_t, GetHandleCount, (HostNodeData* obj, HostAtom* op));
    /* 31 */ HOST_OPERATION(void, GetHandle,
                            (HostNodeData* obj, HostAtom* op, int32_t i, HostHandleInfo* info));
    /* 32 */ HOST_OPERATION(void, SetHandle,
                            (HostNodeData* obj, HostAtom* op, int32_t i, HostVector p,
                             const HostHandleInfo* info));
    uint8_t reserved[HOST_RECORD_RESERVED_BYTES];
} HostObjectPluginRecord;
/* clang-format on */

/* The record is exactly the platform's width (a negative array size fails to compile). */
typedef char HostObjectPluginRecordHasItsWidth
    [sizeof(HostObjectPluginRecord) == HOST_OBJECT_RECORD_SIZE ? 1 : -1];

/* Threads: every entry, entry point only; the host attributes what is registered to the
   plug-in whose c4d_main is running. */
typedef struct HostRegistrationOps {
    /* Registers a plug-in: version, kind (5: object plug-in), id, display name and a
       record of recordSize bytes. The host copies the name, the record and the icon
       (the caller frees its own after the call). 1 on success. */
    int32_t (*RegisterPlugin)(int32_t version, int32_t kind, int32_t id, const HostStringData* name,
                              void* record, int32_t recordSize);
    /* OPTIONAL. Registers description resource name for plug-in id, from res (the host's
       own lookup when null). 1 on success, 0 when the description cannot be found. */
    int32_t (*RegisterDescription)(int32_t id, const HostStringData* name, const HostResource* res);
} HostRegistrationOps;

/* Threads: every entry, any thread. */
typedef struct HostGeneralOps {
    /* Opens address in the user's web browser; 1 when it could. */
    int32_t (*OpenHTML)(const HostStringData* address);
} HostGeneralOps;

/* ---- The table ------------------------------------------------------------------------------ */
typedef struct HostFunctionTable {
    int32_t version; /* always first: the interface version the host implements */
    HostMemoryOps memory;
    HostStringOps string;
    HostFilenameOps filename;
    HostContainerOps container;
    HostObjectOps object;
    HostMeasurerOps measurer;
    HostBitmapOps bitmap;
    HostResourceOps resource;
    HostDescIDOps descid;
    HostDrawOps draw;
    HostRegistrationOps registration;
    HostGeneralOps general;
} HostFunctionTable;

/* ---- The entry point ------------------------------------------------------------------------
 * The plug-in's one export, c4d_main, as the host finds it in the library. The host calls it
 * from one thread at a time, never concurrently with itself; what p1, p2 and p3 carry depends
 * on the action:
 *   HOST_ACTION_INIT     p1: the HostFunctionTable (kept by the plug-in for its whole life);
 *                        p3: the HostFilenameData of the library file (host-owned, valid only
 *                        during the call: copy it). p2 unused. Only the first of several
 *                        initialisations reads them. Answers HOST_RESULT_OK, or
 *                        HOST_RESULT_REFUSED when the table's version is too old or p3 is null.
 *   HOST_ACTION_START    no arguments; the plug-in registers what it offers. HOST_RESULT_OK.
 *   HOST_ACTION_END      no arguments; pairs with HOST_ACTION_INIT. HOST_RESULT_OK.
 *   HOST_ACTION_QUERY    no arguments; answers HOST_QUERY_ANSWER.
 *   HOST_ACTION_MESSAGE  p1: the message id in its low 32 bits (HOST_PLUGINMSG_*); p2: the
 *                        message's data, or null. HOST_RESULT_OK, or HOST_RESULT_FAILED.
 *   any other action     HOST_RESULT_FAILED, nothing done. */
typedef int32_t (*HostPluginMain)(int32_t action, void* p1, void* p2, void* p3);

#define HOST_ACTION_INIT 1
#define HOST_ACTION_START 2
#define HOST_ACTION_END 3
#define HOST_ACTION_QUERY 4
#define HOST_ACTION_MESSAGE 6

#define HOST_RESULT_OK 1
#define HOST_RESULT_FAILED -1
#define HOST_RESULT_REFUSED -3
#define HOST_QUERY_ANSWER 5

#define HOST_PLUGINMSG_NONE 0          /* nothing asked; answered with success */
#define HOST_PLUGINMSG_LOAD_RESOURCE 1 /* load the plug-in's resource; sent before the start */

/* Plug-in kinds of RegisterPlugin. */
#define HOST_PLUGINTYPE_OBJECT 5

/* ---- The host's numbers -------------------------------------------------------------------- */

/* Scene object types, as GetType answers them. */
#define HOST_OBJECT_POLYGON 5100 /* points only */
#define HOST_OBJECT_SPLINE 5101
#define HOST_OBJECT_LINE 5137 /* a spline's line form, the modifier's input */
#define HOST_OBJECT_NULL 5140

/* Tag-data types: where an object keeps its points and its segment records. */
#define HOST_TAG_POINT 5600
#define HOST_TAG_SEGMENT 5672

/* Message types of HostObjectOps.Message and of the record's Message entry. */
#define HOST_MSG_UPDATE 5 /* points or segments changed; no data */
#define HOST_MSG_DESCRIPTION_COMMAND        \
    19 /* a description button was pressed; \
          data: HostDescriptionCommand */

/* Container ids the host itself reads. */
#define HOST_SPLINEOBJECT_CLOSED 1002 /* a spline's closed flag (bool) */

/* Spline types of SplineAlloc. */
#define HOST_SPLINETYPE_LINEAR 0

/* Info flags of HostNodePluginPart.info: which optional record entries the host calls. */
#define HOST_OBJECT_MODIFIER (1 << 0)         /* ModifyObject */
#define HOST_OBJECT_GENERATOR (1 << 2)        /* GetVirtualObjects */
#define HOST_OBJECT_PARTICLEMODIFIER (1 << 5) /* ModifyParticles */
#define HOST_OBJECT_ISSPLINE (1 << 7)         /* GetContour */

/* Viewport drawing: the pass of Draw, Draw's answers, the qualifier bits of DetectHandle. */
#define HOST_DRAWPASS_HANDLES 2
#define HOST_DRAWRESULT_OK 1
#define HOST_DRAWRESULT_SKIP 2
#define HOST_QUALIFIER_CTRL 2

#ifdef __cplusplus
}
#endif

#endif
