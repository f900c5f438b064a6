// Plug-in resources: the string table and parameter descriptions a plug-in folder ships, as
// JSON under <folder>/res.
#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "model_internal.h"
#include "modifier_plugin.h"

namespace hostmodel {
namespace {

using nlohmann::json;

// path is UTF-8, as every path the host model takes.
bool ReadFile(const std::string& path, std::string* out) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return false;
    *out = text.str();
    return true;
}

std::string Join(const std::string& folder, const std::string& rest) {
    if (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) return folder + rest;
    return folder + "/" + rest;
}

// The whole key must be a decimal int32.
bool ParseId(const std::string& key, int32_t* id) {
    if (key.empty() || key.size() > 11) return false;
    size_t used = 0;
    long long v = 0;
    try {
        v = std::stoll(key, &used, 10);
    } catch (...) {
        return false;
    }
    if (used != key.size() || v < INT32_MIN || v > INT32_MAX) return false;
    *id = static_cast<int32_t>(v);
    return true;
}

HostResource* LoadStrings(const std::string& folder) {
    std::string text;
    if (!ReadFile(Join(folder, "res/strings_en/strings.json"), &text)) return nullptr;
    const json doc = json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) return nullptr;
    auto table = doc.find("strings");
    if (table == doc.end() || !table->is_object()) return nullptr;
    std::unique_ptr<HostResource> res(new HostResource());
    res->folder = folder;
    for (auto it = table->begin(); it != table->end(); ++it) {
        int32_t id = 0;
        if (!ParseId(it.key(), &id) || !it.value().is_string()) return nullptr;
        HostResource::Entry& e = res->strings[id];
        e.text = it.value().get<std::string>();
        e.data.impl = &e.text;
    }
    return res.release();
}

HostResource* ResourceLoad(const HostFilenameData* folder) {
    HostResource* res = nullptr;
    const std::string* path = detail::StringOf(folder);
    if (path != nullptr && !path->empty()) {
        try {
            res = LoadStrings(*path);
            if (res != nullptr) detail::Created();
        } catch (...) {
            res = nullptr;
        }
    }
    if (detail::Recording())
        detail::Record("resource.Load", res, {}, {}, path != nullptr ? path->c_str() : nullptr);
    return res;
}

void ResourceFree(HostResource* res) {
    if (detail::Recording()) detail::Record("resource.Free", res);
    if (res == nullptr) return;
    delete res;
    detail::Destroyed();
}

const HostStringData* ResourceGetString(const HostResource* res, int32_t id) {
    if (detail::Recording()) detail::Record("resource.GetString", res, {id});
    if (res == nullptr) return nullptr;
    auto it = res->strings.find(id);
    if (it != res->strings.end()) return &it->second.data;
    return detail::EmptyString();
}

// ---- Descriptions

bool Fail(std::string* error, const std::string& message) {
    if (error != nullptr) *error = message;
    return false;
}

bool Number(const json& v, double* out) {
    if (v.is_boolean()) {
        *out = v.get<bool>() ? 1.0 : 0.0;
        return true;
    }
    if (!v.is_number()) return false;
    *out = v.get<double>();
    return std::isfinite(*out);
}

bool ReadParameter(const json& p, size_t index, Parameter* out, std::string* error) {
    const std::string where = "parameter " + std::to_string(index);
    if (!p.is_object()) return Fail(error, where + " is not an object");
    auto id = p.find("id");
    if (id == p.end() || !id->is_number_integer() || id->get<int64_t>() < INT32_MIN ||
        id->get<int64_t>() > INT32_MAX)
        return Fail(error, where + ": id must be a 32-bit integer");
    out->id = static_cast<int32_t>(id->get<int64_t>());
    auto name = p.find("name");
    if (name == p.end() || !name->is_string() || name->get<std::string>().empty())
        return Fail(error, where + ": name must be a non-empty string");
    out->name = name->get<std::string>();
    const std::string who = where + " (" + out->name + ")";
    auto type = p.find("type");
    if (type == p.end() || !type->is_string()) return Fail(error, who + ": type missing");
    const std::string typeName = type->get<std::string>();
    bool known = false;
    for (ParameterType t :
         {ParameterType::Long, ParameterType::Bool, ParameterType::Real, ParameterType::Button}) {
        if (typeName == ParameterTypeName(t)) {
            out->type = t;
            known = true;
        }
    }
    if (!known) return Fail(error, who + ": unknown type " + typeName);
    struct Text {
        const char* key;
        std::string* value;
    };
    for (const Text& t : {Text{"label", &out->label}, Text{"why", &out->why},
                          Text{"help", &out->help}, Text{"off", &out->off}}) {
        auto it = p.find(t.key);
        if (it == p.end()) continue;
        if (!it->is_string()) return Fail(error, who + ": " + t.key + " must be a string");
        *t.value = it->get<std::string>();
    }
    if (!out->off.empty() && out->type != ParameterType::Bool)
        return Fail(error, who + ": only a BOOL names its false state");
    if (auto hidden = p.find("hidden"); hidden != p.end()) {
        if (!hidden->is_boolean()) return Fail(error, who + ": hidden must be true or false");
        out->hidden = hidden->get<bool>();
    }
    out->key = ParameterKey(out->name);
    struct Bound {
        const char* key;
        std::optional<double>* value;
    };
    for (const Bound& b :
         {Bound{"default", &out->def}, Bound{"min", &out->min}, Bound{"max", &out->max}}) {
        auto it = p.find(b.key);
        if (it == p.end()) continue;
        double v = 0.0;
        if (!Number(*it, &v)) return Fail(error, who + ": " + b.key + " must be a finite number");
        *b.value = v;
    }
    if (out->min && out->max && *out->min > *out->max)
        return Fail(error, who + ": min is above max");
    if (out->def && ((out->min && *out->def < *out->min) || (out->max && *out->def > *out->max)))
        return Fail(error, who + ": default outside min..max");
    if (out->type == ParameterType::Long && out->def && std::trunc(*out->def) != *out->def)
        return Fail(error, who + ": default of a LONG must be whole");
    if (out->type == ParameterType::Bool && out->def && *out->def != 0.0 && *out->def != 1.0)
        return Fail(error, who + ": default of a BOOL must be 0 or 1");
    return true;
}

bool ParseDescription(const std::string& text, const std::string& name, DescriptionResource* out,
                      std::string* error) {
    const json doc = json::parse(text, nullptr, false);
    if (doc.is_discarded()) return Fail(error, "not valid JSON");
    if (!doc.is_object()) return Fail(error, "not a JSON object");
    auto n = doc.find("name");
    if (n == doc.end() || !n->is_string() || n->get<std::string>() != name)
        return Fail(error, "name does not match " + name);
    out->name = name;
    auto params = doc.find("parameters");
    if (params == doc.end() || !params->is_array()) return Fail(error, "parameters missing");
    std::set<int32_t> ids;
    std::set<std::string> names, keys;
    for (size_t i = 0; i < params->size(); ++i) {
        Parameter p{};
        if (!ReadParameter((*params)[i], i, &p, error)) return false;
        if (!ids.insert(p.id).second) return Fail(error, "duplicate id " + std::to_string(p.id));
        if (!names.insert(p.name).second) return Fail(error, "duplicate name " + p.name);
        // Hosts address parameters by key, so two names may not share one.
        if (!keys.insert(p.key).second) return Fail(error, "duplicate key " + p.key);
        if (!p.off.empty() && !keys.insert(p.off).second)
            return Fail(error, "duplicate key " + p.off);
        out->parameters.push_back(std::move(p));
    }
    return true;
}

}  // namespace

namespace detail {

std::string FolderOf(const HostResource* res) {
    return res != nullptr ? res->folder : std::string();
}

void FillResources(HostResourceOps& ops) {
    ops.Load = ResourceLoad;
    ops.Free = ResourceFree;
    ops.GetString = ResourceGetString;
}

}  // namespace detail

std::optional<DescriptionResource> ReadDescription(const std::string& pluginFolder,
                                                   const std::string& name, std::string* error) {
    // The name becomes part of a path: it must stay one plain file name.
    if (name.empty() || name.find_first_of("/\\") != std::string::npos || name == "." ||
        name == "..") {
        Fail(error, "invalid description name '" + name + "'");
        return std::nullopt;
    }
    const std::string path = Join(pluginFolder, "res/description/" + name + ".json");
    std::string text;
    if (!ReadFile(path, &text)) {
        Fail(error, path + ": cannot be read");
        return std::nullopt;
    }
    DescriptionResource desc;
    std::string why;
    if (!ParseDescription(text, name, &desc, &why)) {
        Fail(error, path + ": " + why);
        return std::nullopt;
    }
    return desc;
}

}  // namespace hostmodel
