// The glue between the host's C registration record of an object plug-in and the ObjectData
// operations of the object type it registers: one record entry per operation, each passing the
// host's call on to the object the host names.
#ifndef KORRAND_GE_OBJECTPLUGIN_H
#define KORRAND_GE_OBJECTPLUGIN_H

#include "ge_objectdata.h"

// The allocation function of an object type: a new object in host memory, or null.
using DataAllocator = NodeData* (*)();

// Fills a zero-filled record for an object type with the given info flags. The record's
// allocation entry calls alloc (one registered object type per library: the record's entry takes
// no argument to tell types apart). The icon goes into both icon fields; the host keeps the
// object part's (the node part's only when that is null) and takes its own copy of the bitmap
// during registration.
void FillObjectPluginRecord(HostObjectPluginRecord* record, Int32 info, DataAllocator alloc,
                            HostBitmap* icon, Int32 disklevel);

#endif
