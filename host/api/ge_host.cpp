#include "ge_types.h"

const HostFunctionTable* g_hostTable = nullptr;
