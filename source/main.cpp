// The library's only export: the host drives everything through c4d_main's action codes.
#include <stdint.h>
#include <new>

#include "platform.h"
#include "registration.h"

namespace {

Int32 g_initCount = 0;

bool PluginStart() {
    // Registration failures are the host's to notice; start itself always succeeds.
    if (g_hostTable != nullptr) RegisterKorrandObject();
    return true;
}

void PluginEnd() {}

bool PluginMessage(Int32 id, void*) {
    switch (id) {
        case HOST_PLUGINMSG_NONE:
            return true;
        case HOST_PLUGINMSG_LOAD_RESOURCE:
            return g_resource.Init();
        default:
            return false;
    }
}

Int32 SystemInit(void* table, void* location) {
    if (++g_initCount != 1) return HOST_RESULT_OK;
    g_hostTable = static_cast<const HostFunctionTable*>(table);
    // A missing table is no host at all; treat it like one that is too old.
    if (g_hostTable == nullptr || g_hostTable->version < API_VERSION || location == nullptr)
        return HOST_RESULT_REFUSED;
    void* mem = GeAllocZeroed(sizeof(Filename), __LINE__, "main");
    if (mem != nullptr) {
        g_pluginLocation = new (mem) Filename();
        *g_pluginLocation = Filename::FromHost(static_cast<const HostFilenameData*>(location));
    }
    return HOST_RESULT_OK;
}

Int32 SystemEnd() {
    if (--g_initCount != 0) return HOST_RESULT_OK;
    PluginEnd();
    g_resource.Free();
    if (g_pluginLocation != nullptr) {
        g_pluginLocation->~Filename();
        GeFree(g_pluginLocation);
        g_pluginLocation = nullptr;
    }
    return HOST_RESULT_OK;
}

}  // namespace

extern "C" KORRAND_EXPORT int32_t c4d_main(int32_t action, void* p1, void* p2, void* p3) {
    switch (action) {
        case HOST_ACTION_INIT:
            return SystemInit(p1, p3);
        case HOST_ACTION_START:
            PluginStart();
            return HOST_RESULT_OK;
        case HOST_ACTION_END:
            return SystemEnd();
        case HOST_ACTION_QUERY:
            return HOST_QUERY_ANSWER;
        case HOST_ACTION_MESSAGE: {
            const Int32 id =
                static_cast<Int32>(static_cast<UInt32>(reinterpret_cast<uintptr_t>(p1)));
            return PluginMessage(id, p2) ? HOST_RESULT_OK : HOST_RESULT_FAILED;
        }
        default:
            return HOST_RESULT_FAILED;
    }
}
