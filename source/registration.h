// Registration of object types with the host, the plug-in resource and the process-wide state
// the entry point keeps.
#ifndef KORRAND_REGISTRATION_H
#define KORRAND_REGISTRATION_H

#include "ge_objectplugin.h"

// String resource that gives the middle of the display name.
constexpr Int32 kNameStringId = 10000;

// The holder of the plug-in's loaded resource (its string table).
struct PluginResource {
    HostResource* handle;  // null while none is loaded; the strings come from it
    Int32 loadAttempted;   // set by the first attempt, so a failed load is never retried
    Int32 notOwned;        // while set, releasing does nothing: a holder lent another's handle
    Filename* folder;      // the folder the resource was loaded from, kept with the handle

    // Loads the resource of the plug-in folder once; a failed load is not retried.
    bool Init();
    void Free();
    // Runs at library unload; after the end action it finds nothing left.
    ~PluginResource() { Free(); }
};

// Process-wide state, zero until the host's first system initialisation.
extern PluginResource g_resource;
extern Filename* g_pluginLocation;

// The plug-in folder: the directory of the library's stored location, else an empty name.
Filename GetPluginFolder();

// String id of the plug-in resource, or the host's shared empty string without a resource.
const String& GeLoadString(Int32 id);

bool RegisterDescription(Int32 id, const String& name, const HostResource* res = nullptr);
bool RegisterObjectPlugin(Int32 id, const String& name, Int32 info, DataAllocator alloc,
                          const String& description, BaseBitmap* icon, Int32 disklevel);

// Loads an image from the "res" subfolder of the plug-in folder; frees it at scope end.
class AutoBitmap {
public:
    explicit AutoBitmap(const String& name);
    ~AutoBitmap() { BaseBitmap::Free(bmp_); }
    AutoBitmap(const AutoBitmap&) = delete;
    AutoBitmap& operator=(const AutoBitmap&) = delete;
    BaseBitmap* Get() const { return bmp_; }

private:
    BaseBitmap* bmp_;
};

bool RegisterKorrandObject();

#endif
