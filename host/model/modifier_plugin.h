// The parameter contract every host shares: a plug-in folder opened and its modifier found, the
// parameters its description resource gives, the names hosts use for them, the check of a value
// against the description and the typed write into a modifier's container. The command-line
// host and the Blender bridge both go through here, so they name, check and store parameters
// alike.
#ifndef KORRAND_MODIFIER_PLUGIN_H
#define KORRAND_MODIFIER_PLUGIN_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host_model.h"
#include "parameter_value.h"

namespace hostmodel {

// The name hosts give a parameter: its description name without the plug-in's prefix (up to
// the first '_'), lower case: "KORRAND_COUNT" -> "count", "KORRAND_RESERVED_1011" ->
// "reserved_1011". A name without '_' is only lower-cased.
std::string ParameterKey(const std::string& name);
// A command line's spelling of a key: "--count", "--reserved-1011".
std::string OptionFlag(const std::string& key);

// Shortest text that reads back as v: "0.1", "10000", "-1e+300", "inf".
std::string FormatNumber(double v);

// Why value may not be set for p through a host's editor, or "" when it may: p holds a value,
// and value is finite, inside the description's limits, whole and 32-bit for a LONG, 0 or 1 for
// a BOOL. The reason reads after the parameter's name: "must be between 0 and 10000 (got 12000)".
// Without limits, what a host decides itself (a count derived from a dash length, a spline's
// closedness) is checked only for its type, as a stored value is.
enum class Limits { Checked, NotChecked };
std::string CheckSetting(const Parameter& p, double value, Limits limits = Limits::Checked);
// The Value of the kind p's type takes for a number CheckSetting accepted.
Value SettingValue(const Parameter& p, double value);

// Writes v into bc under p's id with the setter of p's type, or says why it cannot ("must be an
// integer", "does not fit in 32 bits"): an integer for a LONG, a boolean for a BOOL, a number
// for a REAL. Limits are not checked: a scene may hold what an earlier version allowed, and
// the plug-in normalises what it reads. "" on success.
std::string Store(HostContainer* bc, const Parameter& p, const Value& v);
// The value under p's id, read with the getter of p's type; p's default when absent.
double Load(const HostContainer* bc, const Parameter& p);

// A plug-in folder opened as a host opens it: the library loaded and started through c4d_main,
// the object registration that modifies objects found (the one a host puts under a spline),
// and the description resource that registration names read.
class ModifierPlugin {
public:
    // Null, with the reason in *error ("cannot load the plug-in from 'DIR': ..."), when the
    // folder cannot be loaded, the plug-in does not start, registers no modifier or its
    // description cannot be read.
    static std::unique_ptr<ModifierPlugin> Open(const std::string& folder, std::string* error);

    Plugin& plugin() { return *plugin_; }
    const Plugin& plugin() const { return *plugin_; }
    const Registration& registration() const { return *registration_; }
    const DescriptionResource& description() const { return description_; }
    const std::vector<Parameter>& parameters() const { return description_.parameters; }

    const Parameter* ById(int32_t id) const;
    const Parameter* ByKey(const std::string& key) const;
    // By the description's name ("KORRAND_COUNT") or the id as a decimal string ("1000"), as a
    // scene file stores it.
    const Parameter* ByStoredName(const std::string& name) const;

    // A new modifier, initialised by the plug-in (its defaults written).
    std::optional<Plugin::Instance> Create() { return plugin_->Create(registration_->id); }

private:
    ModifierPlugin() = default;
    std::unique_ptr<Plugin> plugin_;
    const Registration* registration_ = nullptr;
    DescriptionResource description_;
};

}  // namespace hostmodel

#endif
