// Mach-O loading with LLVM's Mach-O object reader: load commands, segments, the rebase, bind,
// lazy-bind and weak-bind opcodes and the export trie are all read by LLVM; what is left here is
// mapping, fixing up and running.
#include "macho_loader.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <vector>

#include <llvm/BinaryFormat/MachO.h>
#include <llvm/Object/MachO.h>
#include <llvm/Support/Error.h>
#include <llvm/Support/MemoryBuffer.h>

namespace macho {
namespace {

namespace MachO = llvm::MachO;

// ---- The system library, as far as the plug-in needs it ------------------------------------

struct Cleanup {
    void (*function)(void*);
    void* argument;
    void* dso;
};

std::mutex& CleanupMutex() {
    static std::mutex m;
    return m;
}
std::vector<Cleanup>& Cleanups() {
    static std::vector<Cleanup> c;
    return c;
}

// libSystem's __cxa_atexit: a library's clean-ups are kept with its image handle (its Mach-O
// header) and run when that image is unloaded, as macOS runs them.
int CxaAtexit(void (*function)(void*), void* argument, void* dso) {
    std::lock_guard<std::mutex> lock(CleanupMutex());
    Cleanups().push_back({function, argument, dso});
    return 0;
}

void Bzero(void* p, size_t n) {
    std::memset(p, 0, n);
}

// The stack protector's canary: random, with a zero low byte as C libraries make it, so that a
// string overrun cannot reproduce it.
uintptr_t MakeGuard() {
    std::random_device random;
    const uint64_t v = (uint64_t{random()} << 32) ^ random();
    return static_cast<uintptr_t>(v & ~uint64_t{0xff});
}
uintptr_t g_stackGuard = MakeGuard();

[[noreturn]] void StackCheckFail() {
    std::fputs("macho: stack smashing detected in a Mach-O library\n", stderr);
    std::abort();
}

// Every lazy bind is resolved at load, so the binder is never reached.
[[noreturn]] void StubBinder() {
    std::fputs("macho: dyld_stub_binder called although every lazy bind was resolved\n", stderr);
    std::abort();
}

template <class F>
uint64_t Address(F* f) {
    return reinterpret_cast<uint64_t>(reinterpret_cast<void*>(f));
}

// The imports a library may have, by their Mach-O names. Data symbols give the variable's
// address, functions their entry.
bool Resolve(const std::string& name, uint64_t* value) {
    const std::pair<const char*, uint64_t> known[] = {
        {"_memcpy", Address(&std::memcpy)},
        {"_memmove", Address(&std::memmove)},
        {"_memset", Address(&std::memset)},
        {"___bzero", Address(&Bzero)},
        {"___cxa_atexit", Address(&CxaAtexit)},
        {"___stack_chk_guard", reinterpret_cast<uint64_t>(&g_stackGuard)},
        {"___stack_chk_fail", Address(&StackCheckFail)},
        {"dyld_stub_binder", Address(&StubBinder)},
    };
    for (const auto& [n, v] : known) {
        if (name == n) {
            *value = v;
            return true;
        }
    }
    return false;
}

std::string Message(llvm::Error e) {
    return llvm::toString(std::move(e));
}

int Protection(uint32_t vmProt) {
    int p = PROT_NONE;
    if (vmProt & MachO::VM_PROT_READ) p |= PROT_READ;
    if (vmProt & MachO::VM_PROT_WRITE) p |= PROT_WRITE;
    if (vmProt & MachO::VM_PROT_EXECUTE) p |= PROT_EXEC;
    return p;
}

// The section type of initialiser offsets, newer than LLVM 14's list.
constexpr uint32_t kInitFuncOffsets = 0x16;

struct Segment {
    std::string name;
    uint64_t vmaddr, vmsize, fileoff, filesize;
    uint32_t initprot;
};

}  // namespace

std::unique_ptr<Image> Image::Load(const std::string& path, std::string* error) {
    llvm::Error err = llvm::Error::success();  // LLVM's walks report through it
    auto fail = [&](const std::string& why) -> std::unique_ptr<Image> {
        llvm::consumeError(std::move(err));
        if (error != nullptr) *error = path + ": " + why;
        return nullptr;
    };
    auto buffer = llvm::MemoryBuffer::getFile(path, /*IsText=*/false,
                                              /*RequiresNullTerminator=*/false);
    if (!buffer) return fail(buffer.getError().message());
    auto parsed = llvm::object::ObjectFile::createMachOObjectFile((*buffer)->getMemBufferRef());
    if (!parsed) return fail("not a Mach-O file: " + Message(parsed.takeError()));
    llvm::object::MachOObjectFile& obj = **parsed;
    if (!obj.is64Bit() || obj.getHeader64().cputype != MachO::CPU_TYPE_X86_64)
        return fail("not an x86-64 Mach-O file");
    if (obj.getHeader64().filetype != MachO::MH_DYLIB) return fail("not a dynamic library");

    // Load commands: the segments, the libraries it links, and what this loader cannot do.
    std::vector<Segment> segments;
    for (const auto& lc : obj.load_commands()) {
        switch (lc.C.cmd) {
            case MachO::LC_SEGMENT_64: {
                const MachO::segment_command_64 s = obj.getSegment64LoadCommand(lc);
                segments.push_back({std::string(s.segname, strnlen(s.segname, 16)), s.vmaddr,
                                    s.vmsize, s.fileoff, s.filesize, s.initprot});
                break;
            }
            case MachO::LC_LOAD_DYLIB:
            case MachO::LC_LOAD_WEAK_DYLIB:
            case MachO::LC_REEXPORT_DYLIB:
            case MachO::LC_LAZY_LOAD_DYLIB:
            case MachO::LC_LOAD_UPWARD_DYLIB: {
                const MachO::dylib_command d = obj.getDylibIDLoadCommand(lc);
                const char* name = lc.Ptr + d.dylib.name;
                if (std::string(name, strnlen(name, lc.C.cmdsize - d.dylib.name)) !=
                    "/usr/lib/libSystem.B.dylib")
                    return fail(std::string("links a library other than libSystem: ") + name);
                break;
            }
            case MachO::LC_DYLD_CHAINED_FIXUPS:
                return fail("uses chained fixups, which this loader does not apply");
            case MachO::LC_SEGMENT:
                return fail("has a 32-bit segment");
            default:
                break;
        }
    }
    if (segments.empty()) return fail("has no segments");

    // One anonymous mapping spans all segments; the image starts at its lowest address.
    const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    uint64_t lo = UINT64_MAX, hi = 0;
    for (const Segment& s : segments) {
        if (s.vmsize == 0) continue;
        if (s.vmaddr % page != 0) return fail("segment " + s.name + " is not page aligned");
        if (s.vmaddr + s.vmsize < s.vmaddr) return fail("segment " + s.name + " wraps around");
        lo = std::min(lo, s.vmaddr);
        hi = std::max(hi, s.vmaddr + s.vmsize);
    }
    if (lo >= hi || hi - lo > (uint64_t{1} << 32)) return fail("implausible segment layout");
    std::unique_ptr<Image> image(new Image());
    image->size_ = static_cast<size_t>((hi - lo + page - 1) / page * page);
    void* map =
        mmap(nullptr, image->size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) return fail("cannot map " + std::to_string(image->size_) + " bytes");
    image->map_ = static_cast<unsigned char*>(map);
    const uint64_t slide = reinterpret_cast<uint64_t>(map) - lo;
    // Exports are offsets from the Mach-O header, which starts the segment that maps the file's
    // first byte.
    uint64_t header = lo;
    for (const Segment& s : segments)
        if (s.fileoff == 0 && s.filesize != 0) header = s.vmaddr;

    const llvm::StringRef file = obj.getData();
    for (const Segment& s : segments) {
        const uint64_t n = std::min(s.filesize, s.vmsize);
        if (n == 0) continue;
        if (s.fileoff > file.size() || n > file.size() - s.fileoff)
            return fail("segment " + s.name + " lies outside the file");
        std::memcpy(image->map_ + (s.vmaddr - lo), file.data() + s.fileoff, n);
    }
    // An address of the image as the file gives it, checked to hold a pointer.
    auto at = [&](uint64_t address) -> unsigned char* {
        if (address < lo || address > hi - 8) return nullptr;
        return image->map_ + (address - lo);
    };

    for (const llvm::object::MachORebaseEntry& r : obj.rebaseTable(err)) {
        unsigned char* p = at(r.address());
        if (p == nullptr || r.typeName() != "pointer")
            return fail("rebase of kind " + r.typeName().str() + " at an unusable address");
        uint64_t v;
        std::memcpy(&v, p, 8);
        v += slide;
        std::memcpy(p, &v, 8);
    }
    if (err) return fail("rebase opcodes: " + Message(std::move(err)));

    // Regular binds, then the lazy ones, resolved now instead of on first call. Weak binds only
    // let another image's strong definition win; there is no other image, so each keeps its own.
    auto bind = [&](const llvm::object::MachOBindEntry& b, bool lazy) -> std::string {
        const std::string name = b.symbolName().str();
        if (b.ordinal() != 1) return "binds " + name + " from a library other than libSystem";
        uint64_t value = 0;
        if (!Resolve(name, &value)) return "imports " + name + ", which this loader cannot bind";
        unsigned char* p = at(b.address());
        // Lazy binds carry no type: their slot is always a pointer.
        if (p == nullptr || (!lazy && b.typeName() != "pointer"))
            return "bind of " + name + " at an unusable place";
        value += static_cast<uint64_t>(b.addend());
        std::memcpy(p, &value, 8);
        ++image->imports_[name];
        return "";
    };
    for (const llvm::object::MachOBindEntry& b : obj.bindTable(err)) {
        const std::string why = bind(b, false);
        if (!why.empty()) return fail(why);
    }
    if (err) return fail("bind opcodes: " + Message(std::move(err)));
    for (const llvm::object::MachOBindEntry& b : obj.lazyBindTable(err)) {
        const std::string why = bind(b, true);
        if (!why.empty()) return fail(why);
    }
    if (err) return fail("lazy bind opcodes: " + Message(std::move(err)));
    for (const llvm::object::MachOBindEntry& b : obj.weakBindTable(err)) (void)b;
    if (err) return fail("weak bind opcodes: " + Message(std::move(err)));

    for (const llvm::object::ExportEntry& e : obj.exports(err)) {
        const uint64_t kind = e.flags() & MachO::EXPORT_SYMBOL_FLAGS_KIND_MASK;
        if (kind != MachO::EXPORT_SYMBOL_FLAGS_KIND_REGULAR ||
            (e.flags() & (MachO::EXPORT_SYMBOL_FLAGS_REEXPORT |
                          MachO::EXPORT_SYMBOL_FLAGS_STUB_AND_RESOLVER)) != 0)
            continue;  // re-exports, resolvers and thread-locals cannot be called here
        if (e.address() >= hi - header)
            return fail("export " + e.name().str() + " outside the image");
        image->exports_[e.name().str()] = header - lo + e.address();
    }
    if (err) return fail("export trie: " + Message(std::move(err)));

    // Initialiser and terminator sections; thread-local data would need dyld's support.
    std::vector<void (*)(int, const char**, const char**, const char**, const void*)> inits;
    for (const llvm::object::SectionRef& sec : obj.sections()) {
        const MachO::section_64 s = obj.getSection64(sec.getRawDataRefImpl());
        const uint32_t type = s.flags & MachO::SECTION_TYPE;
        if (type == MachO::S_THREAD_LOCAL_REGULAR || type == MachO::S_THREAD_LOCAL_ZEROFILL ||
            type == MachO::S_THREAD_LOCAL_VARIABLES)
            return fail("has thread-local data");
        if (type == kInitFuncOffsets) return fail("has initialiser offsets");
        if (type != MachO::S_MOD_INIT_FUNC_POINTERS && type != MachO::S_MOD_TERM_FUNC_POINTERS)
            continue;
        if (s.size % 8 != 0) return fail("initialiser section of odd size");
        for (uint64_t off = 0; off < s.size; off += 8) {
            const unsigned char* p = at(s.addr + off);
            uint64_t f;
            if (p == nullptr) return fail("initialiser outside the image");
            std::memcpy(&f, p, 8);
            if (f < lo + slide || f >= hi + slide) return fail("initialiser points outside");
            if (type == MachO::S_MOD_INIT_FUNC_POINTERS)
                inits.push_back(reinterpret_cast<decltype(inits)::value_type>(f));
            else
                image->terminators_.push_back(reinterpret_cast<void (*)()>(f));
        }
    }

    // Each segment gets the protection it asks for, then the initialisers run, in order, with
    // the arguments dyld passes (empty here).
    for (const Segment& s : segments) {
        if (s.vmsize == 0) continue;
        const size_t length = static_cast<size_t>((s.vmsize + page - 1) / page * page);
        if (mprotect(image->map_ + (s.vmaddr - lo), length, Protection(s.initprot)) != 0)
            return fail("cannot protect segment " + s.name);
    }
    static const char* kNone[] = {nullptr};
    for (auto init : inits) init(0, kNone, kNone, kNone, nullptr);
    image->initialisers_ = static_cast<int>(inits.size());
    image->ready_ = true;
    return image;
}

Image::~Image() {
    if (map_ == nullptr) return;
    if (!ready_) {  // refused before anything of it ran
        munmap(map_, size_);
        return;
    }
    // This image's clean-ups, last registered first, as __cxa_finalize runs them.
    for (;;) {
        Cleanup c{};
        {
            std::lock_guard<std::mutex> lock(CleanupMutex());
            auto& all = Cleanups();
            auto it = std::find_if(all.rbegin(), all.rend(), [&](const Cleanup& x) {
                auto* d = static_cast<unsigned char*>(x.dso);
                return d >= map_ && d < map_ + size_;
            });
            if (it == all.rend()) break;
            c = *it;
            all.erase(std::next(it).base());
        }
        c.function(c.argument);
    }
    for (auto it = terminators_.rbegin(); it != terminators_.rend(); ++it) (*it)();
    munmap(map_, size_);
}

void* Image::Symbol(const std::string& name) const {
    const auto it = exports_.find(name);
    return it != exports_.end() ? map_ + it->second : nullptr;
}

int Image::PendingCleanups() const {
    std::lock_guard<std::mutex> lock(CleanupMutex());
    return static_cast<int>(
        std::count_if(Cleanups().begin(), Cleanups().end(), [&](const Cleanup& c) {
            auto* d = static_cast<unsigned char*>(c.dso);
            return d >= map_ && d < map_ + size_;
        }));
}

const hostmodel::LibraryLoader& HostModelLoader() {
    static const hostmodel::LibraryLoader loader = {
        ".dylib",
        [](const std::string& path, std::string* error) -> void* {
            return Image::Load(path, error).release();
        },
        [](void* library, const char* name) -> void* {
            return static_cast<Image*>(library)->Symbol(std::string("_") + name);
        },
        [](void* library) { delete static_cast<Image*>(library); }};
    return loader;
}

}  // namespace macho
