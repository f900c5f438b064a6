// Host memory: every block the plug-in uses comes from here, tagged with its source position.
#ifndef KORRAND_GE_MEMORY_H
#define KORRAND_GE_MEMORY_H

#include "ge_types.h"

inline void* GeAllocZeroed(Int64 size, Int32 line, const char* file) {
    return Host().memory.AllocZeroed(size, line, file);
}
inline void* GeAllocBlock(Int64 size, Int32 line, const char* file) {
    return Host().memory.AllocBlock(size, line, file);
}
inline void* GeReallocBlock(void* block, Int64 size, Int32 line, const char* file) {
    return Host().memory.ReallocBlock(block, size, line, file);
}
inline void GeFree(void* block) {
    Host().memory.Free(block);
}
inline void GeStopReport(Int32 line, const char* file) {
    Host().memory.StopReport(line, file);
}

#endif
