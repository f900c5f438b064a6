// Loads a plug-in library and drives it as the host does: only through its c4d_main and the
// records it registers.
#include <atomic>
#include <cstring>
#include <filesystem>

#include "dynamic_library.h"
#include "model_internal.h"

namespace hostmodel {
namespace {

// Entry points run one at a time, so registrations made meanwhile belong to the plug-in whose
// entry point is running. Recursive: a plug-in may be driven from within a host call.
std::recursive_mutex& EntryMutex() {
    static std::recursive_mutex m;
    return m;
}

// Paths are UTF-8 on every platform (on Windows a narrow name would be taken in the ANSI code
// page: a plug-in folder under C:\Users\José would not be found).
std::string Absolute(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path abs = std::filesystem::absolute(std::filesystem::u8path(path), ec);
    return ec ? path : abs.lexically_normal().u8string();
}

std::atomic<const LibraryLoader*> g_loader{nullptr};  // null: the platform's own

const LibraryLoader& Loader() {
    static const LibraryLoader platformLoader = {platform::LibrarySuffix(), platform::OpenLibrary,
                                                 platform::FindSymbol, platform::CloseLibrary};
    const LibraryLoader* installed = g_loader.load();
    return installed != nullptr ? *installed : platformLoader;
}

}  // namespace

void SetLibraryLoader(const LibraryLoader* loader) {
    g_loader.store(loader);
}

std::string PluginLibraryName() {
    return std::string("KorrandModifier") + Loader().suffix;
}

std::unique_ptr<Plugin> Plugin::Load(const std::string& pluginFolder, std::string* error) {
    if (pluginFolder.empty()) {
        if (error != nullptr) *error = "no plug-in folder given";
        return nullptr;
    }
    std::unique_ptr<Plugin> plugin(new Plugin());
    plugin->folder_ = Absolute(pluginFolder);
    // Joined with the platform's separator: the path is shown in messages and handed over.
    plugin->path_ = (std::filesystem::u8path(plugin->folder_) / PluginLibraryName()).u8string();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::u8path(plugin->path_), ec)) {
        if (error != nullptr) *error = plugin->path_ + ": no such plug-in library";
        return nullptr;
    }
    plugin->loader_ = &Loader();
    plugin->library_ = plugin->loader_->open(plugin->path_, error);
    if (plugin->library_ == nullptr) return nullptr;
    void* symbol = plugin->loader_->find(plugin->library_, "c4d_main");
    if (symbol == nullptr) {
        if (error != nullptr) *error = plugin->path_ + ": exports no c4d_main";
        return nullptr;  // the destructor unloads it
    }
    static_assert(sizeof(symbol) == sizeof(plugin->main_), "entry point fits a data pointer");
    std::memcpy(&plugin->main_, &symbol, sizeof(symbol));
    return plugin;
}

Plugin::~Plugin() {
    Shutdown();
    detail::DropRegistrations(this);  // their function pointers die with the library
    registrations_.clear();
    if (library_ != nullptr) loader_->close(library_);
}

int32_t Plugin::Main(int32_t action, void* p1, void* p2, void* p3) {
    if (main_ == nullptr) return 0;
    int32_t result = 0;
    {
        std::lock_guard<std::recursive_mutex> serial(EntryMutex());
        const detail::PluginContext previous = detail::EnterPlugin(this, folder_);
        result = main_(action, p1, p2, p3);
        detail::LeavePlugin(previous);
    }
    if (action == HOST_ACTION_INIT && result == HOST_RESULT_OK) initialised_ = true;
    if (action == HOST_ACTION_END) initialised_ = false;
    // Merge by id in place: Find's pointers and instances' registrations stay valid.
    for (Registration& r : detail::RegistrationsOf(this)) {
        Registration* known = nullptr;
        for (Registration& k : registrations_)
            if (k.id == r.id) known = &k;
        if (known != nullptr)
            *known = std::move(r);
        else
            registrations_.push_back(std::move(r));
    }
    return result;
}

bool Plugin::Start(std::string* error) {
    return Start(Table(), error);
}

bool Plugin::Start(const HostFunctionTable* table, std::string* error) {
    if (startTried_) {
        if (error != nullptr) *error = "plug-in already started";
        return false;
    }
    startTried_ = true;
    // The plug-in copies the file name during action 1; the host's copy goes right after.
    HostFilenameData file{};
    detail::InitFilename(&file, path_);
    const int32_t init =
        Main(HOST_ACTION_INIT, const_cast<HostFunctionTable*>(table), nullptr, &file);
    detail::FreeFilename(&file);
    if (init != HOST_RESULT_OK) {
        if (error != nullptr) *error = path_ + ": initialisation returned " + std::to_string(init);
        return false;
    }
    Main(HOST_ACTION_MESSAGE,
         reinterpret_cast<void*>(static_cast<intptr_t>(HOST_PLUGINMSG_LOAD_RESOURCE)), nullptr,
         nullptr);
    Main(HOST_ACTION_START, nullptr, nullptr, nullptr);
    // A record of another platform's width means a library built for another platform: no
    // type of it can be used here.
    const std::vector<std::string> refused = detail::RecordWidthRefusalsOf(this);
    if (!refused.empty()) {
        if (error != nullptr) *error = path_ + ": " + refused.front();
        return false;
    }
    return true;
}

void Plugin::Shutdown() {
    if (initialised_) Main(HOST_ACTION_END, nullptr, nullptr, nullptr);
}

const Registration* Plugin::Find(int32_t id) const {
    for (const Registration& r : registrations_)
        if (r.id == id) return &r;
    return nullptr;
}

std::optional<Plugin::Instance> Plugin::Create(int32_t id) {
    const Registration* reg = Find(id);
    if (reg == nullptr || reg->record.node.Alloc == nullptr) return std::nullopt;
    HostAtom* node = NewObject(id);
    HostNodeData* data = reg->record.node.Alloc();
    if (data == nullptr) {
        FreeObject(node);
        return std::nullopt;
    }
    Instance inst{node, data, reg};
    if (reg->record.node.Init.function != nullptr &&
        CallOperation(reg->record.node.Init, data, node) == 0) {
        Destroy(inst);
        return std::nullopt;
    }
    return inst;
}

void Plugin::Destroy(Instance& inst) {
    if (inst.reg != nullptr && inst.data != nullptr) {
        // As a host frees a node: the node's Free first, then the instance's destructor.
        if (inst.reg->record.node.Free.function != nullptr)
            CallOperation(inst.reg->record.node.Free, inst.data, inst.node);
        if (inst.reg->record.node.Destroy != nullptr) inst.reg->record.node.Destroy(inst.data);
    }
    FreeObject(inst.node);
    inst.node = nullptr;
    inst.data = nullptr;
}

bool Plugin::Modify(const Instance& inst, HostAtom* op) {
    if (inst.reg == nullptr || inst.reg->record.ModifyObject.function == nullptr) return false;
    return CallOperation(inst.reg->record.ModifyObject, inst.data, inst.node, nullptr, op, nullptr,
                         nullptr, 1.0, 0, nullptr) != 0;
}

int32_t Plugin::Message(const Instance& inst, int32_t type, void* data) {
    if (inst.reg == nullptr || inst.reg->record.node.Message.function == nullptr) return 0;
    return CallOperation(inst.reg->record.node.Message, inst.data, inst.node, type, data);
}

std::string Plugin::Folder() const {
    return folder_;
}
std::string Plugin::LibraryPath() const {
    return path_;
}

}  // namespace hostmodel
