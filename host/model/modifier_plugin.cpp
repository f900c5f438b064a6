// The parameter contract of host/model/modifier_plugin.h.
#include "modifier_plugin.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>

namespace hostmodel {

const char* ParameterTypeName(ParameterType type) {
    switch (type) {
        case ParameterType::Long:
            return "LONG";
        case ParameterType::Bool:
            return "BOOL";
        case ParameterType::Real:
            return "REAL";
        case ParameterType::Button:
            return "BUTTON";
    }
    return "?";
}

std::string ParameterKey(const std::string& name) {
    const size_t cut = name.find('_');
    std::string key = cut == std::string::npos ? name : name.substr(cut + 1);
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

std::string OptionFlag(const std::string& key) {
    std::string flag = "--" + key;
    for (char& c : flag)
        if (c == '_') c = '-';
    return flag;
}

std::string FormatNumber(double v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

std::string CheckSetting(const Parameter& p, double value, Limits limits) {
    const std::string got = " (got " + FormatNumber(value) + ")";
    if (p.type == ParameterType::Button) return "is a button and holds no value";
    if (!std::isfinite(value)) return "must be a finite number" + got;
    if (p.type == ParameterType::Bool && value != 0.0 && value != 1.0)
        return "must be 0 or 1" + got;
    if (p.type == ParameterType::Long && std::trunc(value) != value)
        return "must be a whole number" + got;
    if (limits == Limits::Checked && ((p.min && value < *p.min) || (p.max && value > *p.max))) {
        if (p.min && p.max)
            return "must be between " + FormatNumber(*p.min) + " and " + FormatNumber(*p.max) + got;
        return p.min ? "must be at least " + FormatNumber(*p.min) + got
                     : "must be at most " + FormatNumber(*p.max) + got;
    }
    if (p.type == ParameterType::Long && (value < INT32_MIN || value > INT32_MAX))
        return "must fit in 32 bits" + got;
    return "";
}

Value SettingValue(const Parameter& p, double value) {
    switch (p.type) {
        case ParameterType::Long:
            return Value::Int(static_cast<int64_t>(value));
        case ParameterType::Bool:
            return Value::Bool(value != 0.0);
        default:
            return Value::Real(value);
    }
}

std::string Store(HostContainer* bc, const Parameter& p, const Value& v) {
    const HostFunctionTable* t = Table();
    switch (p.type) {
        case ParameterType::Long:
            if (v.kind != Value::Kind::Integer) return "must be an integer";
            if (v.integer < INT32_MIN || v.integer > INT32_MAX) return "does not fit in 32 bits";
            t->container.SetLong(bc, p.id, static_cast<int32_t>(v.integer));
            return "";
        case ParameterType::Bool:
            if (v.kind != Value::Kind::Boolean) return "must be true or false";
            t->container.SetBool(bc, p.id, v.boolean ? 1 : 0);
            return "";
        case ParameterType::Real:
            if (v.kind == Value::Kind::Boolean) return "must be a number";
            t->container.SetReal(
                bc, p.id, v.kind == Value::Kind::Integer ? static_cast<double>(v.integer) : v.real);
            return "";
        case ParameterType::Button:
            break;
    }
    return "is not a value parameter";
}

double Load(const HostContainer* bc, const Parameter& p) {
    const HostFunctionTable* t = Table();
    const double preset = p.def.value_or(0.0);
    switch (p.type) {
        case ParameterType::Long:
            return t->container.GetLong(bc, p.id, static_cast<int32_t>(preset));
        case ParameterType::Bool:
            return t->container.GetBool(bc, p.id, preset != 0.0 ? 1 : 0);
        case ParameterType::Real:
            return t->container.GetReal(bc, p.id, preset);
        case ParameterType::Button:
            break;
    }
    return 0.0;
}

std::unique_ptr<ModifierPlugin> ModifierPlugin::Open(const std::string& folder,
                                                     std::string* error) {
    std::string why;
    std::unique_ptr<ModifierPlugin> m(new ModifierPlugin());
    m->plugin_ = Plugin::Load(folder, &why);
    const auto fail = [&](const std::string& message) {
        if (error != nullptr) *error = message;
        return nullptr;
    };
    if (!m->plugin_) return fail("cannot load the plug-in from '" + folder + "': " + why);
    if (!m->plugin_->Start(&why)) return fail("the plug-in did not start: " + why);
    // The registration a host puts under a spline: an object plug-in whose record carries the
    // modify entry. Ids come from the registration, not from anything the host knew before.
    for (const Registration& r : Registry()) {
        if (r.kind != HOST_PLUGINTYPE_OBJECT) continue;
        const Registration* own = m->plugin_->Find(r.id);
        if (own != nullptr && own->record.ModifyObject.function != nullptr) {
            m->registration_ = own;
            break;
        }
    }
    if (m->registration_ == nullptr)
        return fail("the plug-in in '" + folder + "' registered no modifier");
    auto description = ReadDescription(m->plugin_->Folder(), m->registration_->description, &why);
    if (!description) return fail("the plug-in's description cannot be read: " + why);
    m->description_ = std::move(*description);
    return m;
}

const Parameter* ModifierPlugin::ById(int32_t id) const {
    for (const Parameter& p : description_.parameters)
        if (p.id == id) return &p;
    return nullptr;
}

const Parameter* ModifierPlugin::ByKey(const std::string& key) const {
    for (const Parameter& p : description_.parameters)
        if (p.key == key) return &p;
    return nullptr;
}

const Parameter* ModifierPlugin::ByStoredName(const std::string& name) const {
    for (const Parameter& p : description_.parameters)
        if (p.name == name) return &p;
    for (const Parameter& p : description_.parameters)
        if (std::to_string(p.id) == name) return &p;
    return nullptr;
}

}  // namespace hostmodel
