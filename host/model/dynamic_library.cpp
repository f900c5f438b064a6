// Shared library loading per platform.
#include "dynamic_library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace hostmodel {
namespace platform {

#ifdef _WIN32

const char* LibrarySuffix() {
    return ".cdl64";
}

// path is UTF-8 and may use '/' as well as '\\'.
void* OpenLibrary(const std::string& path, std::string* error) {
    HMODULE lib = nullptr;
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, nullptr, 0);
    if (n > 0) {
        std::wstring wide(static_cast<size_t>(n), L'\0');
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, &wide[0], n);
        for (wchar_t& c : wide)
            if (c == L'/') c = L'\\';
        lib = LoadLibraryW(wide.c_str());
    }
    if (lib == nullptr && error != nullptr)
        *error = path + ": LoadLibrary failed with error " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(lib);
}

void* FindSymbol(void* library, const char* name) {
    if (library == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) {
    if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

#else

const char* LibrarySuffix() {
#ifdef __APPLE__
    return ".dylib";
#else
    return ".so";
#endif
}

void* OpenLibrary(const std::string& path, std::string* error) {
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr && error != nullptr) {
        const char* why = dlerror();
        *error = why != nullptr ? why : path + ": cannot be loaded";
    }
    return lib;
}

void* FindSymbol(void* library, const char* name) {
    return library != nullptr ? dlsym(library, name) : nullptr;
}

void CloseLibrary(void* library) {
    if (library != nullptr) dlclose(library);
}

#endif

}  // namespace platform
}  // namespace hostmodel
