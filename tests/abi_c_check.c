/* Compiled as C: the host table header must stay plain C. */
#include <stddef.h>
#include "host_abi.h"

_Static_assert(sizeof(HostVector) == 24, "vector layout");
_Static_assert(sizeof(HostSegment) == 8, "segment layout");
_Static_assert(offsetof(HostFunctionTable, version) == 0, "version leads the table");
_Static_assert(offsetof(HostNodePluginPart, Free) - offsetof(HostNodePluginPart, Init) ==
                   HOST_OPERATION_ENTRY_SIZE,
               "operation entries are the platform's width");
_Static_assert(sizeof(HostObjectPluginRecord) == HOST_OBJECT_RECORD_SIZE, "record width");

int korrand_abi_c_version(void) {
    return HOST_API_VERSION;
}
size_t korrand_abi_c_table_size(void) {
    return sizeof(HostFunctionTable);
}
size_t korrand_abi_c_record_size(void) {
    return sizeof(HostObjectPluginRecord);
}
