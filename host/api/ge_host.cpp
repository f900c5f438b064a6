// The host's function table, kept by the entry point at the first system initialisation.
#include "ge_types.h"

const HostFunctionTable* g_hostTable = nullptr;
