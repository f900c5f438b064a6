// The host's plug-in registry, description registration and the browser hand-off.
#include <cstring>

#include "model_internal.h"

namespace hostmodel {
namespace {

struct Entry {
    Registration reg;
    const void* owner;  // the plug-in whose entry point was running, or null
};

struct Refusal {
    std::string why;
    const void* owner;
    bool recordWidth;  // the record is of another platform's width
};

struct State {
    std::mutex mutex;
    std::vector<Entry> entries;
    std::vector<Refusal> refusals;
    std::map<int32_t, std::string> descriptions;
    const void* currentOwner = nullptr;
    std::string currentFolder;
    std::vector<std::string> opened;
};
State& Shared() {
    static State s;
    return s;
}

Registration WithDescription(const State& st, const Registration& reg) {
    Registration r = reg;
    auto it = st.descriptions.find(reg.id);
    r.description = it != st.descriptions.end() ? it->second : std::string();
    return r;
}

// The platform whose record is size bytes wide.
std::string RecordLayout(int32_t size) {
    if (size == HOST_OBJECT_RECORD_SIZE_WINDOWS)
        return "8-byte operation entries, as on Windows x64 and Linux";
    if (size == HOST_OBJECT_RECORD_SIZE_MACOS)
        return "16-byte operation entries, as on macOS x86-64";
    return "no platform's layout";
}

// Notes why a registration was refused; answers RegisterPlugin's 0.
int32_t Refuse(int32_t id, const std::string& why, bool recordWidth) {
    try {
        State& st = Shared();
        std::lock_guard<std::mutex> lock(st.mutex);
        st.refusals.push_back({"registration of plug-in " + std::to_string(id) + " refused: " + why,
                               st.currentOwner, recordWidth});
    } catch (...) {
    }
    return 0;
}

int32_t RegisterPlugin(int32_t version, int32_t kind, int32_t id, const HostStringData* name,
                       void* record, int32_t recordSize) {
    const std::string* text = detail::StringOf(name);
    if (detail::Recording())
        detail::Record("registration.RegisterPlugin", record, {version, kind, id, recordSize}, {},
                       text != nullptr ? text->c_str() : nullptr);
    if (record == nullptr) return Refuse(id, "no record", false);
    if (kind != HOST_PLUGINTYPE_OBJECT)
        return Refuse(id, "kind " + std::to_string(kind) + " is not an object plug-in", false);
    if (recordSize != HOST_OBJECT_RECORD_SIZE) {
        // Read at the wrong width, every entry after the first operation would be misread.
        return Refuse(id,
                      "a record of " + std::to_string(recordSize) + " bytes (" +
                          RecordLayout(recordSize) + "); this host reads records of " +
                          std::to_string(HOST_OBJECT_RECORD_SIZE) + " bytes (" +
                          RecordLayout(HOST_OBJECT_RECORD_SIZE) + ")",
                      true);
    }
    try {
        Registration reg{};
        reg.version = version;
        reg.kind = kind;
        reg.id = id;
        reg.name = text != nullptr ? *text : std::string();
        std::memcpy(&reg.record, record, sizeof(HostObjectPluginRecord));
        reg.recordSize = recordSize;
        // The caller frees its icon after the call: keep a copy, never its pointer.
        const HostBitmap* icon =
            reg.record.icon != nullptr ? reg.record.icon : reg.record.node.icon;
        reg.record.icon = nullptr;
        reg.record.node.icon = nullptr;
        reg.hasIcon = icon != nullptr;
        reg.iconWidth = icon != nullptr ? icon->w : 0;
        reg.iconHeight = icon != nullptr ? icon->h : 0;
        if (icon != nullptr) reg.iconPixels = icon->pixels;
        State& st = Shared();
        std::lock_guard<std::mutex> lock(st.mutex);
        Entry entry{std::move(reg), st.currentOwner};
        for (Entry& e : st.entries) {
            if (e.reg.id == id) {
                e = std::move(entry);
                return 1;
            }
        }
        st.entries.push_back(std::move(entry));
        return 1;
    } catch (...) {
        return 0;
    }
}

int32_t RegisterDescription(int32_t id, const HostStringData* name, const HostResource* res) {
    const std::string* text = detail::StringOf(name);
    if (detail::Recording())
        detail::Record("registration.RegisterDescription", res, {id}, {},
                       text != nullptr ? text->c_str() : nullptr);
    if (text == nullptr || text->empty()) return 0;
    try {
        State& st = Shared();
        std::string folder;
        if (res != nullptr) {
            folder = detail::FolderOf(res);
        } else {
            std::lock_guard<std::mutex> lock(st.mutex);
            folder = st.currentFolder;
        }
        if (folder.empty() || !ReadDescription(folder, *text, nullptr)) return 0;
        std::lock_guard<std::mutex> lock(st.mutex);
        st.descriptions[id] = *text;
        return 1;
    } catch (...) {
        return 0;
    }
}

int32_t OpenHTML(const HostStringData* address) {
    const std::string* text = detail::StringOf(address);
    if (detail::Recording())
        detail::Record("general.OpenHTML", address, {}, {},
                       text != nullptr ? text->c_str() : nullptr);
    if (text == nullptr || text->empty()) return 0;
    try {
        State& st = Shared();
        std::lock_guard<std::mutex> lock(st.mutex);
        st.opened.push_back(*text);
        return 1;
    } catch (...) {
        return 0;
    }
}

}  // namespace

namespace detail {

PluginContext EnterPlugin(const void* owner, const std::string& folder) {
    State& st = Shared();
    std::lock_guard<std::mutex> lock(st.mutex);
    PluginContext previous{st.currentOwner, st.currentFolder};
    st.currentOwner = owner;
    st.currentFolder = folder;
    return previous;
}

void LeavePlugin(const PluginContext& previous) {
    State& st = Shared();
    std::lock_guard<std::mutex> lock(st.mutex);
    st.currentOwner = previous.owner;
    st.currentFolder = previous.folder;
}

std::vector<Registration> RegistrationsOf(const void* owner) {
    State& st = Shared();
    std::lock_guard<std::mutex> lock(st.mutex);
    std::vector<Registration> out;
    for (const Entry& e : st.entries)
        if (e.owner == owner) out.push_back(WithDescription(st, e.reg));
    return out;
}

void DropRegistrations(const void* owner) {
    State& st = Shared();
    std::lock_guard<std::mutex> lock(st.mutex);
    for (size_t i = st.entries.size(); i-- > 0;) {
        if (st.entries[i].owner != owner) continue;
        st.descriptions.erase(st.entries[i].reg.id);
        st.entries.erase(st.entries.begin() + static_cast<std::ptrdiff_t>(i));
    }
    for (Refusal& r : st.refusals)
        if (r.owner == owner) r.owner = nullptr;  // the address may be another plug-in's later
}

std::vector<std::string> RecordWidthRefusalsOf(const void* owner) {
    State& st = Shared();
    std::lock_guard<std::mutex> lock(st.mutex);
    std::vector<std::string> out;
    for (const Refusal& r : st.refusals)
        if (r.owner == owner && r.recordWidth) out.push_back(r.why);
    return out;
}

void FillRegistration(HostRegistrationOps& ops, HostGeneralOps& general) {
    ops.RegisterPlugin = RegisterPlugin;
    ops.RegisterDescription = RegisterDescription;
    general.OpenHTML = OpenHTML;
}

}  // namespace detail

std::vector<Registration> Registry() {
    State& st = Shared();
    std::lock_guard<std::mutex> lock(st.mutex);
    std::vector<Registration> out;
    for (const Entry& e : st.entries) out.push_back(WithDescription(st, e.reg));
    return out;
}

void ClearRegistry() {
    State& st = Shared();
    std::lock_guard<std::mutex> lock(st.mutex);
    st.entries.clear();
    st.descriptions.clear();
    st.refusals.clear();
}

std::vector<std::string> RefusedRegistrations() {
    State& st = Shared();
    std::lock_guard<std::mutex> lock(st.mutex);
    std::vector<std::string> out;
    for (const Refusal& r : st.refusals) out.push_back(r.why);
    return out;
}

std::vector<std::string> OpenedAddresses() {
    State& st = Shared();
    std::lock_guard<std::mutex> lock(st.mutex);
    return st.opened;
}

void ClearOpenedAddresses() {
    State& st = Shared();
    std::lock_guard<std::mutex> lock(st.mutex);
    st.opened.clear();
}

}  // namespace hostmodel
