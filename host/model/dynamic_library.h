// Loading a shared library: the only platform-specific part of the host model.
#ifndef KORRAND_HOST_MODEL_DYNAMIC_LIBRARY_H
#define KORRAND_HOST_MODEL_DYNAMIC_LIBRARY_H

#include <string>

namespace hostmodel {
namespace platform {

const char* LibrarySuffix();  // ".so", ".dylib" or ".cdl64"
void* OpenLibrary(const std::string& path, std::string* error);
void* FindSymbol(void* library, const char* name);
void CloseLibrary(void* library);

}  // namespace platform
}  // namespace hostmodel

#endif
