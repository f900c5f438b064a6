// A small loader for macOS x86-64 dynamic libraries (Mach-O MH_DYLIB) on Linux x86-64, so that
// the cross-built plug-in can be run here: its segments are mapped, rebased and bound, the few
// system library symbols it imports are bound to this system's equivalents, every lazy bind is
// resolved at load, its initialisers run, and at unload its clean-ups registered through
// __cxa_atexit run as macOS runs them when a library goes. Both systems call functions the
// same way on x86-64, so the library's code runs as it is.
//
// It is not macOS: no dyld, no libSystem beyond the imports listed in macho_loader.cpp, and no
// other image a library could depend on. A library needing more is refused with the reason.
#ifndef KORRAND_TESTS_MACHO_LOADER_H
#define KORRAND_TESTS_MACHO_LOADER_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host_model.h"

namespace macho {

class Image {
public:
    // Maps and prepares the library at path; null with error set when it cannot.
    static std::unique_ptr<Image> Load(const std::string& path, std::string* error);
    // Runs the library's clean-ups and terminators, then unmaps it.
    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    // The address of an exported symbol by its Mach-O name ("_c4d_main"), or null.
    void* Symbol(const std::string& name) const;
    // The system library symbols the library imports, bound at load, by name.
    const std::map<std::string, int>& Imports() const { return imports_; }
    int Initialisers() const { return initialisers_; }
    // Clean-ups the library registered with __cxa_atexit and that have not run yet.
    int PendingCleanups() const;

private:
    Image() = default;
    unsigned char* map_ = nullptr;
    size_t size_ = 0;
    std::map<std::string, uint64_t> exports_;  // name -> offset from the image's start
    std::map<std::string, int> imports_;       // name -> bind sites
    int initialisers_ = 0;
    bool ready_ = false;  // mapped, fixed up and initialised
    std::vector<void (*)()> terminators_;
};

// The host model's loader for ".dylib" plug-ins through Image; the C name "c4d_main" is found
// as "_c4d_main", as macOS's own lookup adds the underscore.
const hostmodel::LibraryLoader& HostModelLoader();

}  // namespace macho

#endif
