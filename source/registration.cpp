// This plug-in's registration with the host and its process-wide state: the stored library
// location, the plug-in resource and its strings, the icon, and the modifier type's record.
#include "registration.h"

#include <string.h>
#include <new>

#include "korrand.h"

// The string table, loaded once at plug-in message 1 and released at the end action.
PluginResource g_resource;
// A copy of the library's location from the first system initialisation: its folder is where
// the resource and the icon are found.
Filename* g_pluginLocation = nullptr;

Filename GetPluginFolder() {
    if (g_pluginLocation == nullptr) return Filename();
    return g_pluginLocation->GetDirectory();
}

bool PluginResource::Init() {
    if (g_hostTable == nullptr) return false;
    const Filename pluginFolder = GetPluginFolder();
    if (folder == nullptr) {
        void* mem = GeAllocZeroed(sizeof(Filename), __LINE__, "registration");
        if (mem == nullptr) return false;
        folder = new (mem) Filename(pluginFolder);
    }
    if (loadAttempted != 0) return handle != nullptr;
    handle = Host().resource.Load(pluginFolder.Data());
    loadAttempted = 1;
    return handle != nullptr;
}

void PluginResource::Free() {
    if (notOwned != 0) return;
    if (handle != nullptr) {
        Host().resource.Free(handle);
        handle = nullptr;
    }
    if (folder != nullptr) {
        folder->~Filename();
        GeFree(folder);
        folder = nullptr;
    }
}

const String& GeLoadString(Int32 id) {
    if (g_resource.handle != nullptr)
        return String::FromHost(Host().resource.GetString(g_resource.handle, id));
    return String::FromHost(Host().string.Empty());
}

AutoBitmap::AutoBitmap(const String& name) : bmp_(BaseBitmap::Alloc()) {
    if (bmp_ == nullptr) return;
    Filename file = GetPluginFolder();
    String res;
    res.SetCString("res", -1, 0);
    file += res;
    file += name;
    if (bmp_->Init(file, -1, nullptr) != 1) BaseBitmap::Free(bmp_);
}

bool RegisterDescription(Int32 id, const String& name, const HostResource* res) {
    auto registerDescription = Host().registration.RegisterDescription;
    if (registerDescription == nullptr) return false;
    if (res == nullptr) res = g_resource.handle;
    return registerDescription(id, name.Data(), res) != 0;
}

bool RegisterObjectPlugin(Int32 id, const String& name, Int32 info, DataAllocator alloc,
                          const String& description, BaseBitmap* icon, Int32 disklevel) {
    // Without its description the host could not show the object's parameters.
    if (description.GetLength() != 0 && !RegisterDescription(id, description, nullptr))
        return false;
    HostObjectPluginRecord record;
    memset(&record, 0, sizeof(record));
    FillObjectPluginRecord(&record, info, alloc, icon != nullptr ? icon->H() : nullptr, disklevel);
    return Host().registration.RegisterPlugin(API_VERSION, PLUGINTYPE_OBJECT, id, name.Data(),
                                              &record, sizeof(record)) != 0;
}

bool RegisterKorrandObject() {
    // The display name is made after the strings it is built from and outlives them, which are
    // destroyed before the icon file and the description exist: its storage is kept by hand so
    // that the host sees every string made, joined and destroyed in that order.
    alignas(String) unsigned char nameStorage[sizeof(String)];
    String* name;
    {
        String suffix;
        suffix.SetCString(" Modifier", -1, 0);
        String prefix;
        prefix.SetCString("Wendrix ", -1, 0);
        const String& middle = GeLoadString(kNameStringId);
        String joined(prefix);
        joined.Insert(joined.GetLength(), middle, -1, -1);
        name = new (nameStorage) String(joined);
        name->Insert(name->GetLength(), suffix, -1, -1);
    }  // joined, prefix, suffix
    bool result;
    {
        String iconFile;
        iconFile.SetCString("korrand.tif", -1, 0);
        String description;
        description.SetCString("okorrand", -1, 0);
        {
            AutoBitmap icon(iconFile);
            // The host takes its own copies of the name, the description name and the icon.
            result = RegisterObjectPlugin(ID_KORRAND, *name, OBJECT_MODIFIER | OBJECT_ISSPLINE,
                                          AllocKorrandObject, description, icon.Get(), 0);
        }  // the icon bitmap
    }      // description, iconFile
    name->~String();
    return result;
}
